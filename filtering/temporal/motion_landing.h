#pragma once

#include <map>
#include <opencv2/core.hpp>

#include "frame_io/frame.h"

namespace filtering {

/// Where the point of each pixel of the frame at offset 0 of `frames` lies
/// in the frame `offset` frames away, by the frames' motion passes: step by
/// step through the frames between, each step read at the pixel nearest to
/// where the last one ended. CV_32FC2 of x, y, NaN where a step leaves the
/// picture; empty when a frame on the way is missing or has no motion pass.
cv::Mat motionLanding(const std::map<int, const Frame*>& frames, int offset);

}  // namespace filtering
