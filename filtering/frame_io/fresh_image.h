#pragma once

#include <opencv2/core.hpp>

namespace filtering {

/// A new image whose pages are all made present in one call, where the
/// kernel can (Linux 5.14 and later), rather than one page fault at a time
/// as the first pass writes it. Its values are unspecified.
cv::Mat freshImage(int rows, int cols, int type);

}  // namespace filtering
