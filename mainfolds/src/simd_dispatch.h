#pragma once

// Hot loops are compiled once per instruction set and picked at load time.
// They use plain IEEE operations only (no contraction), so every clone gives
// the same bits.
#if defined(__x86_64__) && defined(__GNUC__)
#define QUENDEL_SIMD_CLONES __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#else
#define QUENDEL_SIMD_CLONES
#endif

#define QUENDEL_ALWAYS_INLINE inline __attribute__((always_inline))
