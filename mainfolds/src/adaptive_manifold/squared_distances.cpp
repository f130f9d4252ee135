#include "adaptive_manifold/squared_distances.h"

#include <algorithm>

#include "foundations/simd_dispatch.h"

namespace quendel {

namespace {

// Pixels whose sums stay in registers while every plane is added: the sums
// are not stored and reloaded once per plane.
constexpr std::size_t kRegisterTile = 64;

QUENDEL_ALWAYS_INLINE void sumSquaresTile(const float* const* planes, unsigned planeCount,
                                          std::size_t first, std::size_t length, float* out) {
    float sums[kRegisterTile];
    for (std::size_t i = 0; i < length; ++i) {
        sums[i] = 0.0f;
    }
    for (unsigned c = 0; c < planeCount; ++c) {
        const float* d = planes[c] + first;
        for (std::size_t i = 0; i < length; ++i) {
            sums[i] = sums[i] + d[i] * d[i];
        }
    }
    std::copy(sums, sums + length, out);
}

QUENDEL_ALWAYS_INLINE void sumSquaresBody(const float* const* planes, unsigned planeCount,
                                          std::size_t begin, std::size_t count, float* sums) {
    std::size_t i = 0;
    for (; i + kRegisterTile <= count; i += kRegisterTile) {
        sumSquaresTile(planes, planeCount, begin + i, kRegisterTile, sums + i);
    }
    if (i < count) {
        sumSquaresTile(planes, planeCount, begin + i, count - i, sums + i);
    }
}

QUENDEL_SIMD_DISPATCH(sumSquaresOnActiveSet, sumSquaresBody)

}  // namespace

void sumSquares(const float* const* planes, unsigned planeCount, std::size_t begin,
                std::size_t count, float* sums) {
    sumSquaresOnActiveSet(planes, planeCount, begin, count, sums);
}

}  // namespace quendel
