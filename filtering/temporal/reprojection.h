#pragma once

#include <limits>
#include <opencv2/core.hpp>

#include "frame_io/frame.h"

namespace filtering {

/// What makes a pixel of a neighbouring frame the same surface point.
struct MatchLimits {
    // Pixels searched around the pixel itself, each way.
    int searchRadius = 3;
    // Largest distance between the two world positions: this share of the
    // point's distance to the camera, or `footprintShare` of the distance to
    // its nearest neighbouring pixel's position when that is larger (a
    // moving camera samples each surface at other points).
    float distanceShare = 0.01f;
    float footprintShare = 0.75f;
    // Normals must agree this well, and texture colours within this share
    // of their magnitude (infinite: not compared).
    float leastNormalDot = 0.95f;
    float colourShare = 0.05f;

    /// Position alone, and only a surface seen from its other side told
    /// apart by its normal: in anti-aliased frames a pixel's normal and
    /// texture colour at an edge are mixtures that change as the camera moves.
    static MatchLimits byPosition() {
        MatchLimits limits;
        limits.leastNormalDot = 0.0f;
        limits.colourShare = std::numeric_limits<float>::infinity();
        return limits;
    }
};

/// For every pixel of `frame`, where its surface point lies in `neighbour`:
/// the pixel (x, y) of the nearest world position among those searched,
/// or (-1, -1) when none is close enough or agrees in normal and texture
/// colour (a surface hidden or out of view there). CV_32SC2. Both frames
/// share one size; repaired positions match nothing. Given `landing`, where
/// each pixel's point projects into the neighbour (CV_32FC2 of x, y; NaN
/// where unknown), each point is first looked for next to that place, which
/// finds the still parts of a scene at once.
cv::Mat findMatches(const Frame& frame, const Frame& neighbour,
                    const MatchLimits& limits = MatchLimits(), const cv::Mat& landing = cv::Mat());

}  // namespace filtering
