#pragma once

#include <opencv2/core.hpp>

namespace filtering {

/// The value of a CV_32FC3 image at a place between its pixels (x right,
/// y down, pixel centres at whole numbers; places off the image read its
/// border) from the four pixels around it.
cv::Vec3f bilinearRead(const cv::Mat& image, cv::Point2f at);

/// The same from the sixteen pixels around the place (a Catmull-Rom cubic),
/// held, channel by channel, to the range of the four nearest: detail a
/// pixel wide keeps most of its contrast at any fraction of a pixel, where
/// the bilinear read blurs it by as much as the fraction says, and an edge
/// does not ring past the pixels on either side of it.
cv::Vec3f cubicRead(const cv::Mat& image, cv::Point2f at);

}  // namespace filtering
