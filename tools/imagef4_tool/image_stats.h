#pragma once

#include <array>
#include <cstddef>
#include <opencv2/core.hpp>
#include <string>

namespace imagef4 {

/// Size and per-channel value ranges of a float image; NaNs are counted and
/// left out of the ranges and means.
struct ImageSummary {
    int width = 0, height = 0, channels = 0;
    std::array<float, 4> low{}, high{};
    std::array<double, 4> mean{};
    size_t nanCount = 0;
    size_t infiniteCount = 0;
};

ImageSummary summarize(const cv::Mat& image);

/// One line: "W x H, c0 [low, high] mean m, ..., N NaN".
std::string describe(const ImageSummary& summary);

/// Peak signal-to-noise ratio in decibels of `image` against `reference`,
/// both linear working images, measured on their tone-mapped display values
/// (exposure, clamp to [0, 1], sRGB) with peak 1. Infinite for equal images.
double psnr(const cv::Mat& image, const cv::Mat& reference, float exposure = 1.0f);

}  // namespace imagef4
