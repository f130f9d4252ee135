#include "temporal/local_light.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace filtering {

LocalLight::LocalLight(const cv::Mat& image, int radius)
    : inverseBoxPixels(1.0f / float((2 * radius + 1) * (2 * radius + 1))) {
    cv::Mat level;
    cv::transform(image, level, cv::Matx13f(1.0f / 3, 1.0f / 3, 1.0f / 3));
    const cv::Size box(2 * radius + 1, 2 * radius + 1);
    cv::Mat squares;
    cv::boxFilter(level, mean, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
    cv::boxFilter(level.mul(level), squares, CV_32F, box, cv::Point(-1, -1), true,
                  cv::BORDER_REFLECT);
    variance = cv::max(squares - mean.mul(mean), 0.0f);
}

bool LocalLight::agrees(const LocalLight& other, cv::Point at, cv::Point q, float deviations,
                        float share) const {
    const float own = mean.at<float>(at);
    const float difference = std::abs(other.mean.at<float>(q) - own);
    const float spread =
        std::sqrt((variance.at<float>(at) + other.variance.at<float>(q)) * inverseBoxPixels);
    return difference <= deviations * spread + share * std::abs(own);
}

LocalRange::LocalRange(const cv::Mat& image, int radius) {
    const cv::Mat box = cv::Mat::ones(2 * radius + 1, 2 * radius + 1, CV_8U);
    cv::erode(image, low, box, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    cv::dilate(image, high, box, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
}

cv::Vec3f LocalRange::clamped(cv::Vec3f value, cv::Point at) const {
    const cv::Vec3f& least = low.at<cv::Vec3f>(at);
    const cv::Vec3f& greatest = high.at<cv::Vec3f>(at);
    for (int c = 0; c < 3; ++c) value[c] = std::clamp(value[c], least[c], greatest[c]);
    return value;
}

}  // namespace filtering
