#include "temporal/motion_landing.h"

#include <cmath>

#include "temporal/camera_projection.h"

namespace filtering {

cv::Mat motionLanding(const std::map<int, const Frame*>& frames, int offset) {
    if (offset == 0) return cv::Mat();
    const int step = offset > 0 ? 1 : -1;
    // The motion's first two channels lead to the previous frame, the last two to the next.
    const int first = offset > 0 ? 2 : 0;
    cv::Mat landing;
    for (int at = 0; at != offset; at += step) {
        const auto found = frames.find(at);
        if (found == frames.end() || found->second->motion.empty()) return cv::Mat();
        const cv::Mat& motion = found->second->motion;
        if (landing.empty()) {
            landing.create(motion.size(), CV_32FC2);
            landing.forEach<cv::Vec2f>([](cv::Vec2f& place, const int* pixel) {
                place = cv::Vec2f(float(pixel[1]), float(pixel[0]));
            });
        }
        if (motion.size() != landing.size()) return cv::Mat();
        landing.forEach<cv::Vec2f>([&](cv::Vec2f& place, const int*) {
            const std::optional<cv::Point> pixel = nearestPixel(place, motion.size());
            if (!pixel) {
                place = cv::Vec2f::all(std::nanf(""));
                return;
            }
            const cv::Vec4f& m = motion.at<cv::Vec4f>(*pixel);
            place += cv::Vec2f(m[first], m[first + 1]);
        });
    }
    return landing;
}

}  // namespace filtering
