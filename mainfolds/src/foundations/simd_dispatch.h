#pragma once

// Hot loops are compiled once per instruction set and picked at load time.
// They use plain IEEE operations only (no contraction), so every clone gives
// the same bits.
// Thread-sanitized and fuzz builds go without: the instrumentation that those
// add to the load-time resolvers runs before the library is relocated.
#if defined(__SANITIZE_THREAD__)
#define QUENDEL_NO_SIMD_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUENDEL_NO_SIMD_CLONES
#endif
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(QUENDEL_NO_SIMD_CLONES)
#define QUENDEL_SIMD_CLONES __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#else
#define QUENDEL_SIMD_CLONES
#endif

#define QUENDEL_ALWAYS_INLINE inline __attribute__((always_inline))
