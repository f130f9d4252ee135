#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace filtering {

/// Display form of a linear working image: each value times `exposure`,
/// clamped to [0, 1] and sRGB-encoded; float, same channel order.
cv::Mat toneMapped(const cv::Mat& linear, float exposure = 1.0f);

/// The tone-mapped image in 8 bits per channel.
cv::Mat toDisplayBytes(const cv::Mat& linear, float exposure = 1.0f);

/// Writes the tone-mapped image as a PNG file, whatever the name's ending.
/// False, with a message naming the file, when it cannot be written.
bool writePreview(const std::string& path, const cv::Mat& linear, float exposure = 1.0f);

}  // namespace filtering
