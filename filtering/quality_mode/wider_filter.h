#pragma once

#include <functional>
#include <opencv2/core.hpp>

#include "quality_mode/firefly_suppression.h"
#include "quendel/texture.h"

namespace filtering {

/// Judging, on a layer's own light, whether a broader filter pays.
///
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

/// The judging of one layer's light, for several questions in turn: its
/// window is cut and its noise made once. The arguments as for
/// widerFilterScale; the guide they start from is `guide`.
class LayerJudge {
  public:
    LayerJudge(const quendel::CpuTexture& brightness, const quendel::CpuTexture& filtered,
               const quendel::CpuTexture& guide, const cv::Mat& colour, float sigmaS,
               const cv::Mat& noisy, const OutlierRule* outliers);

    /// Whether the guide that `loosen` makes of the present one (the same
    /// but for weaker edges; given and returning the window's part) plainly
    /// pays at `sigmaS`: the noise it removes across the edges it weakens
    /// against the light it changes across them, weighed as the widening
    /// is. If so it becomes the present guide.
    bool adoptIfPays(const std::function<quendel::CpuTexture(const quendel::CpuTexture&)>& loosen);

    /// widerFilterScale under the present guide.
    float widerScale() const;

  private:
    float sigmaS_;
    quendel::CpuTexture light_, guide_, first_, wide_, probe_;
    cv::Mat colourLevel_;
};

}  // namespace filtering
