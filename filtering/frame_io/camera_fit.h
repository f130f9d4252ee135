#pragma once

#include <opencv2/core.hpp>
#include <optional>

#include "frame_io/layer_files.h"

namespace filtering {

/// Depths at or beyond this, or not finite, are background (sky), not a surface.
inline constexpr float kBackgroundDepth = 1e9f;

/// The camera position that explains a frame's positions (three channels,
/// working order z, y, x) and depth (one channel), found where both are
/// surfaces. Tried as a pinhole camera whose depth is measured along its
/// axis (each position is the camera plus depth times a direction that is
/// affine in the pixel's coordinates) and as one whose depth is the
/// distance to it. Nothing when neither explains the frame to within a
/// thousandth of the distances, or when too few pixels are surfaces.
std::optional<CameraPosition> fitCamera(const cv::Mat& positions, const cv::Mat& depth);

}  // namespace filtering
