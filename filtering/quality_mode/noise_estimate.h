#pragma once

#include <opencv2/core.hpp>

namespace filtering {

/// The luminance weights of the working channels: blue, green, red.
inline constexpr float kLuminanceBlue = 0.0722f, kLuminanceGreen = 0.7152f, kLuminanceRed = 0.2126f;

/// Median absolute deviation to standard deviation, for Gaussian noise.
inline constexpr float kMadToDeviation = 1.4826f;

/// Luminance of a three-channel working image (blue, green, red), one channel.
cv::Mat luminance(const cv::Mat& bgr);

/// Pixels whose four neighbours lie on the same smooth surface: normals (unit
/// vectors) within `normalStep` of the pixel's and plane offsets (the dot
/// product of normal and position) within `offsetStep`. A light layer is
/// smooth there apart from its noise. 8-bit mask, 255 where flat; the outer
/// frame of pixels is never flat.
cv::Mat flatGeometryMask(const cv::Mat& normals, const cv::Mat& planeOffsets, float normalStep,
                         float offsetStep);

/// Robust standard deviation of the per-pixel noise of a one-channel image,
/// from the median absolute value of its high-pass (the pixel minus the mean
/// of its four neighbours) over the pixels `mask` marks on every second
/// row. Right on average for independent Gaussian noise on a locally linear
/// signal; heavy tails do not move it much. 0 when the mask marks no pixel.
float estimateNoise(const cv::Mat& image, const cv::Mat& mask);

}  // namespace filtering
