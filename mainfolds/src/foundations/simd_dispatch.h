#pragma once

// Hot loops are compiled once per instruction set and the one to run is
// picked at every call from activeInstructionSet(), so that QUENDEL_ISA (and
// a test) can choose a narrower set than the processor has. They use plain
// IEEE operations only (no contraction), so every set gives the same bits.
//
//   QUENDEL_ALWAYS_INLINE void scaleRowBody(float* row, unsigned count) { ... }
//   QUENDEL_SIMD_DISPATCH(scaleRow, scaleRowBody)
//
// defines scaleRow(...) with scaleRowBody's parameters. The body, and every
// helper that it calls in its loops, must be always-inline, so that it is
// compiled into each set's copy. QUENDEL_SIMD_DISPATCH_BY_SET calls
// Body<InstructionSet::...>(...) instead, for bodies that differ by set.
//
// Thread-sanitized and fuzz builds (QUENDEL_NO_SIMD_CLONES) keep the
// baseline copy only.

#include "quendel/instruction_set.h"

#if defined(__SANITIZE_THREAD__)
#define QUENDEL_NO_SIMD_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUENDEL_NO_SIMD_CLONES
#endif
#endif

#define QUENDEL_ALWAYS_INLINE inline __attribute__((always_inline))

#define QUENDEL_SIMD_FORWARD(args) static_cast<decltype(args)&&>(args)...

#if defined(__x86_64__) && defined(__GNUC__) && !defined(QUENDEL_NO_SIMD_CLONES)
#define QUENDEL_SIMD_DISPATCH_SETS 1
#define QUENDEL_SIMD_COPIES(Name, Sse2Body, Avx2Body, Avx512Body)                             \
    __attribute__((target("arch=x86-64-v4"))) decltype(auto) Name##OnAvx512(auto&&... args) { \
        return Avx512Body(QUENDEL_SIMD_FORWARD(args));                                        \
    }                                                                                         \
    __attribute__((target("avx2,fma"))) decltype(auto) Name##OnAvx2(auto&&... args) {         \
        return Avx2Body(QUENDEL_SIMD_FORWARD(args));                                          \
    }                                                                                         \
    decltype(auto) Name(auto&&... args) {                                                     \
        switch (::quendel::activeInstructionSet()) {                                          \
            case ::quendel::InstructionSet::Avx512:                                           \
                return Name##OnAvx512(QUENDEL_SIMD_FORWARD(args));                            \
            case ::quendel::InstructionSet::Avx2:                                             \
                return Name##OnAvx2(QUENDEL_SIMD_FORWARD(args));                              \
            case ::quendel::InstructionSet::Sse2:                                             \
                break;                                                                        \
        }                                                                                     \
        return Sse2Body(QUENDEL_SIMD_FORWARD(args));                                          \
    }
#else
#define QUENDEL_SIMD_COPIES(Name, Sse2Body, Avx2Body, Avx512Body) \
    decltype(auto) Name(auto&&... args) {                         \
        return Sse2Body(QUENDEL_SIMD_FORWARD(args));              \
    }
#endif

#define QUENDEL_SIMD_DISPATCH(Name, Body) QUENDEL_SIMD_COPIES(Name, Body, Body, Body)
#define QUENDEL_SIMD_DISPATCH_BY_SET(Name, Body)                     \
    QUENDEL_SIMD_COPIES(Name, Body<::quendel::InstructionSet::Sse2>, \
                        Body<::quendel::InstructionSet::Avx2>,       \
                        Body<::quendel::InstructionSet::Avx512>)
