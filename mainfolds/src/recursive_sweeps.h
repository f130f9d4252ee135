#pragma once

#include "quendel/texture.h"
#include "quendel/threads.h"

namespace quendel {

/// Where a recursive pass takes its feedback coefficient from: the constant
/// `base` when `plane` is null; otherwise the per-pixel `plane` (of the
/// texture's size), which the pass first fills with base^distances when
/// `distances` is set.
struct PassCoefficients {
    float* plane = nullptr;
    const float* distances = nullptr;
    float base = 0.0f;
};

/// Two-way recursive sweeps along every row of every channel of `texture`:
/// left to right with the coefficient of the pixel itself, then right to left
/// with that of its right neighbour. Rows run across a team of `team` threads.
void horizontalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients,
                             int team = threadCount());

/// The same down and then up every column, with the coefficient of the pixel
/// itself and then of its lower neighbour. Blocks of columns of each channel
/// run across a team of `team` threads.
void verticalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients,
                           int team = threadCount());

}  // namespace quendel
