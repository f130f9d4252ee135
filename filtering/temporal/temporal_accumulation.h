#pragma once

#include <vector>

#include "frame_io/frame.h"
#include "temporal/reprojection.h"

namespace filtering {

struct TemporalLimits {
    MatchLimits match;
    // A neighbour's light is left out where its local mean (over a box of
    // this radius) differs from the frame's by more than `lightDeviations`
    // standard errors of the two means plus `lightShare` of the frame's
    // mean: a moving shadow or changed light, not noise.
    int boxRadius = 2;
    float lightDeviations = 3.0f;
    float lightShare = 0.02f;
    // The rest layer (glossy light, emission) is taken from a neighbour only
    // while the direction from the point to the camera turned by less than
    // this (radians), and held to the range of the frame's own rest (and
    // glossy light) over a box of radius `restClampRadius`.
    float restViewTurn = 0.03f;
    int restClampRadius = 1;
    // Of three or more samples of the rest at a point (the frame's own and
    // its neighbours'), the brightest counts as the next brightest when it
    // is more than this many times as bright: one frame's firefly, which an
    // average over a few frames would only pass on to all of them. The rest
    // is filtered by neither mode, so nothing else would take it out.
    float restOutlierRatio = 2.0f;
};

/// `frame` with its primary and secondary light and its rest averaged, with equal
/// weights, with the light that each neighbouring frame saw at the same
/// surface point (findMatches), where that light agrees; the glossy light,
/// when the frames have it, wherever the rest was taken, each without its
/// outliers (`restOutlierRatio`). Every layer is a copy: the result may be
/// changed without changing `frame`.
Frame accumulateOverTime(const Frame& frame, const std::vector<const Frame*>& neighbours,
                         const TemporalLimits& limits = TemporalLimits());

}  // namespace filtering
