#pragma once

#include "foundations/team_for_work.h"
#include "host_filters/filter_coefficients.h"
#include "quendel/texture.h"

namespace quendel {

/// Writes the domain-transform distance between every pixel and its left
/// neighbour into `horizontal` (columns 1 and up) and between every pixel and
/// the one above into `vertical` (rows 1 and up), both width x height like the
/// guide. Column 0 of `horizontal` and row 0 of `vertical` are left as they
/// are. Squared guide differences are summed in channel order. Rows run
/// across a team of `team` threads.
void computeDomainDistances(const CpuTexture& guide, DistanceWeights weights, float* horizontal,
                            float* vertical, int team = workerCount());

}  // namespace quendel
