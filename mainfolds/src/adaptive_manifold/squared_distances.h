#pragma once

#include <cstddef>

namespace quendel {

/// sums[i] = the squares of planes[c][begin + i] added in plane order from
/// zero, for i < count: a pixel's squared distance over all channels.
void sumSquares(const float* const* planes, unsigned planeCount, std::size_t begin,
                std::size_t count, float* sums);

}  // namespace quendel
