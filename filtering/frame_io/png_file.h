#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace filtering {

/// Writes an 8-bit three-channel image (blue, green, red, as OpenCV keeps
/// them) as an RGB PNG file. False, with a message on standard error, when
/// the image is not of that type or the file cannot be written.
bool writePng(const std::string& path, const cv::Mat& bgr);

}  // namespace filtering
