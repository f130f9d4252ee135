#include "firefly_suppression.h"

#include <cmath>
#include <opencv2/imgproc.hpp>

#include "noise_estimate.h"

namespace filtering {

namespace {

constexpr int kWindow = 3;
// Median absolute deviation to standard deviation of a Gaussian.
constexpr double kMadToDeviation = 1.4826;
// Three box passes come close to a Gaussian at a cost independent of reach.
constexpr int kBoxPasses = 3;

// Per-pixel luminance limit: local median plus `spread` local deviations.
cv::Mat luminanceLimits(const cv::Mat& brightness, float spread, float floor) {
    cv::Mat median;
    cv::medianBlur(brightness, median, kWindow);
    cv::Mat deviation = cv::abs(brightness - median);
    cv::medianBlur(deviation, deviation, kWindow);
    const cv::Mat limits = median + deviation * (kMadToDeviation * spread);
    return cv::max(limits, median + floor);
}

// Spreads light over a neighbourhood of deviation about `reach` pixels.
// Symmetric boxes with mirrored borders keep its sum.
void spreadAround(cv::Mat& light, float reach) {
    // n passes of a box of width w have the variance n (w^2 - 1) / 12.
    const double width = std::sqrt(12.0 * reach * reach / kBoxPasses + 1.0);
    const int halfWidth = std::max(1, static_cast<int>(std::lround((width - 1.0) / 2.0)));
    const cv::Size box(2 * halfWidth + 1, 2 * halfWidth + 1);
    for (int pass = 0; pass < kBoxPasses; ++pass) {
        cv::blur(light, light, box, cv::Point(-1, -1), cv::BORDER_REFLECT);
    }
}

}  // namespace

cv::Mat suppressFireflies(const cv::Mat& light, float spread, float floor, float reach) {
    return suppressFireflies(light, luminance(light), spread, floor, reach);
}

cv::Mat suppressFireflies(const cv::Mat& light, const cv::Mat& brightness, float spread,
                          float floor, float reach) {
    const cv::Mat limits = luminanceLimits(brightness, spread, floor);
    cv::Mat kept = light.clone();
    cv::Mat excess(light.size(), CV_32FC3, cv::Scalar::all(0));
    bool clipped = false;
    for (int row = 0; row < light.rows; ++row) {
        const float* level = brightness.ptr<float>(row);
        const float* limit = limits.ptr<float>(row);
        auto* pixel = kept.ptr<cv::Vec3f>(row);
        auto* taken = excess.ptr<cv::Vec3f>(row);
        for (int column = 0; column < light.cols; ++column) {
            if (!(level[column] > limit[column])) {
                continue;
            }
            const cv::Vec3f lowered = pixel[column] * (limit[column] / level[column]);
            taken[column] = pixel[column] - lowered;
            pixel[column] = lowered;
            clipped = true;
        }
    }
    if (clipped) {
        spreadAround(excess, reach);
        kept += excess;
    }
    return kept;
}

}  // namespace filtering
