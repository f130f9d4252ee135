#pragma once

#include <cstddef>
#include <opencv2/core.hpp>

namespace filtering {

/// How many values of a float image are NaN or infinite.
size_t countNonFinite(const cv::Mat& image);

/// Replaces every NaN or infinite value of a float image, channel by
/// channel, by the mean of the finite values of that channel among its
/// eight neighbours. A value with no finite neighbour takes the mean of the
/// smallest aligned block of 2^k x 2^k pixels around it that holds a finite
/// value of its channel, and 0 when the whole channel has none. Only the
/// bad values change. Returns a CV_8U mask of the pixels that had at least
/// one bad value (255), or an empty matrix when there was none.
cv::Mat replaceNonFinite(cv::Mat& image);

}  // namespace filtering
