#pragma once

#include <vector>

#include "frame_io/frame.h"
#include "temporal/reprojection.h"

namespace filtering {

/// A frame of a shot and what the denoising of that frame alone made of it.
struct DenoisedView {
    const Frame* frame = nullptr;
    cv::Mat image;   // CV_32FC3, the frame's size
    int offset = 0;  // frames after the centre (before it: negative)
};

struct BlendLimits {
    MatchLimits match = MatchLimits::byPosition();
    // A neighbour's value is held to the range of the frame's own result
    // over a box of this radius: what the frame does not show itself (a
    // shadow or a reflection that moved, light that changed) is not brought
    // in, while the noise left in each result averages out.
    int clampRadius = 1;
    // A neighbour is left out where the local mean of its noisy beauty (over
    // a box of this radius) differs from the frame's by more than
    // `lightDeviations` standard errors of the two means plus `lightShare`
    // of the frame's mean: a moving shadow or changed light, not noise.
    int boxRadius = 2;
    float lightDeviations = 3.0f;
    float lightShare = 0.02f;
    // Where the frames have motion passes, a point is found where its motion
    // leads, when the surface there lies at the same distance from the
    // camera within this share (and does not face away): moving objects too.
    float motionDepthShare = 0.03f;
    // A neighbour is read between its pixels by a cubic (cubicRead) rather
    // than a bilinear read: for results that keep fine detail, which the
    // bilinear read blurs by an amount that changes from frame to frame.
    // Results that keep much noise lose by it: the bilinear read's blur
    // averages some of that noise away.
    bool cubicReads = false;
};

/// The centre's image averaged, with equal weights, with what each
/// neighbour's image shows at the same surface points (where the frames'
/// motion passes lead, through the frames between; otherwise findMatches,
/// placed to a fraction of a pixel by the neighbour's camera projection where
/// one fits its positions, and read there as `cubicReads` says) where the light there agrees.
/// Values are averaged with bright light compressed, so that a lamp's edge does not spill onto its
/// surroundings. Pixels without a surface, or that no neighbour sees, keep their value bit for bit.
cv::Mat blendOverTime(const DenoisedView& centre, const std::vector<DenoisedView>& neighbours,
                      const BlendLimits& limits = BlendLimits());

}  // namespace filtering
