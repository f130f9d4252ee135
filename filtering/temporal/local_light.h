#pragma once

#include <opencv2/core.hpp>

namespace filtering {

/// The mean and variance of an image's level (the mean of its three
/// channels) over the box of side 2 * radius + 1 around each pixel.
struct LocalLight {
    LocalLight(const cv::Mat& image, int radius);

    /// Whether the light at `at` and the light of `other` at `q` are the
    /// same light seen through noise: their means differ by no more than
    /// `deviations` standard errors of the two means plus `share` of this
    /// one's mean (a moving shadow or changed light differs by more).
    bool agrees(const LocalLight& other, cv::Point at, cv::Point q, float deviations,
                float share) const;

    cv::Mat mean, variance;
    float inverseBoxPixels;
};

/// The least and greatest value of each channel of an image over the box of
/// side 2 * radius + 1 around each pixel (the border repeated).
struct LocalRange {
    LocalRange(const cv::Mat& image, int radius);

    /// `value` held, channel by channel, to the range around `at`.
    cv::Vec3f clamped(cv::Vec3f value, cv::Point at) const;

    cv::Mat low, high;
};

}  // namespace filtering
