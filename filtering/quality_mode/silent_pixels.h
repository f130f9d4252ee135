#pragma once

#include <opencv2/core.hpp>

#include "frame_io/frame.h"

namespace filtering {

/// Pixels that show a surface (CV_8U, 255): not the background, where a
/// renderer writes zero normals, and not where the positions had to be made
/// up (from a depth pass's background, or repaired).
cv::Mat surfacePixels(const Frame& frame);

/// Pixels of `surfaces` whose colour (texture or glossy) is above zero in
/// some channel: only there does a light layer hold a measured sample.
/// Elsewhere (black materials, the background) renderers write no light.
cv::Mat respondingPixels(const cv::Mat& color, const cv::Mat& surfaces);

/// `light` with each pixel outside `responding` replaced by the average of
/// the responding light around it (within about `reach` pixels), so that
/// silent pixels neither darken nor brighten the neighbours of their own
/// surface when the layer is filtered; zero where no responding pixel is
/// near. The same image when every pixel responds.
cv::Mat fillSilentPixels(const cv::Mat& light, const cv::Mat& responding, int reach);

}  // namespace filtering
