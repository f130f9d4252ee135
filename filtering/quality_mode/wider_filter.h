#pragma once

#include <opencv2/core.hpp>

#include "quality_mode/firefly_suppression.h"
#include "quendel/texture.h"

namespace filtering {

/// How much wider than `sigmaS` to filter a layer's light, from 1 to 3: the
/// noise a filter twice as wide would remove against the detail it would
/// blur, both as they show on screen (the light times its colour,
/// display-encoded at exposure 1). Light without edges of its own gains
/// from the wider filter; shadows, textures of light and sharp falloff
/// lose. The scale grows with the wider filter's margin, so that frames
/// near the balance (and the frames of a shot around it) differ little;
/// light that a filter twice as wide plainly suits goes on to three times.
/// `brightness` is the layer's luminance (one plane) as it is filtered,
/// `filtered` the same under `guide` at `sigmaS`, `colour` the layer's
/// colour (CV_32FC3), `noisy` (CV_32F) its luminance before its outliers
/// were separated by `outliers` (null: they were kept), all the guide's
/// size. Large frames are judged on a window in their middle.
/// Deterministic.
float widerFilterScale(const quendel::CpuTexture& brightness, const quendel::CpuTexture& filtered,
                       const quendel::CpuTexture& guide, const cv::Mat& colour, float sigmaS,
                       const cv::Mat& noisy, const OutlierRule* outliers);

}  // namespace filtering
