#pragma once

#include "foundations/simd_dispatch.h"

namespace quendel {

/// Transposes eight vectors of eight floats: afterwards m[i][j] holds what
/// m[j][i] held. Shuffles only, so it works the same in every set's copy.
template <typename Vector>
QUENDEL_ALWAYS_INLINE void transposeEight(Vector (&m)[8]) {
    Vector t[8], u[8];
    for (unsigned i = 0; i < 8; i += 2) {
        t[i] = __builtin_shufflevector(m[i], m[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        t[i + 1] = __builtin_shufflevector(m[i], m[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    for (unsigned i = 0; i < 8; i += 4) {
        u[i] = __builtin_shufflevector(t[i], t[i + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        u[i + 1] = __builtin_shufflevector(t[i], t[i + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        u[i + 2] = __builtin_shufflevector(t[i + 1], t[i + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        u[i + 3] = __builtin_shufflevector(t[i + 1], t[i + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (unsigned i = 0; i < 4; ++i) {
        m[i] = __builtin_shufflevector(u[i], u[i + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        m[i + 4] = __builtin_shufflevector(u[i], u[i + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

}  // namespace quendel
