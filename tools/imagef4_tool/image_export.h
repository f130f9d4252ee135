#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace imagef4 {

/// Writes the linear float values as OpenEXR (full precision). False, with
/// a message, on failure.
bool writeExr(const std::string& path, const cv::Mat& linear);

/// Tone-mapped images placed left to right, in one 8-bit PNG; every image
/// must have the height of the first.
bool writeSideBySide(const std::string& path, const std::vector<cv::Mat>& linearImages,
                     float exposure = 1.0f);

}  // namespace imagef4
