#pragma once

// Lets one function body compile for the device under nvcc and for the host
// under a plain C++ compiler.
#if defined(__CUDACC__)
#define QUENDEL_HOST_DEVICE __host__ __device__
#else
#define QUENDEL_HOST_DEVICE
#endif

// For small helpers on vector types, whose out-of-line calls would pass
// vectors wider than the default target's registers.
#if defined(__GNUC__) || defined(__clang__)
#define QUENDEL_FORCE_INLINE inline __attribute__((always_inline))
#else
#define QUENDEL_FORCE_INLINE inline
#endif
