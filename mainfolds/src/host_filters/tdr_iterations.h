#pragma once

#include <functional>

#include "foundations/team_for_work.h"
#include "quendel/texture.h"

namespace quendel {

/// Direction of one recursive pass of an iteration.
enum class SweepDirection { AlongRows, DownColumns };

/// The per-pixel coefficient plane of one pass: used as it stands, or first
/// filled from `distances` when they are set.
struct CoefficientPlane {
    float* plane = nullptr;
    const float* distances = nullptr;
};

/// Where each pass takes its coefficient plane from; `iteration` counts
/// from 1, the widest kernel.
using CoefficientPlanes = std::function<CoefficientPlane(int iteration, SweepDirection)>;

/// Feedback coefficient of TDR iteration `iteration` (from 1) for `sigmaS`.
float tdrIterationBase(float sigmaS, int iteration);

/// The TDR filter's smoothing of every channel of `image` in place: each
/// iteration a horizontal then a vertical recursive pass, with the
/// coefficient planes `planes` gives, on a team of `team` threads. Filling
/// planes from distances pass by pass needs one plane; prepared planes let
/// many images share them.
void sweepTdrIterations(CpuTexture& image, float sigmaS, const CoefficientPlanes& planes,
                        int team = workerCount());

}  // namespace quendel
