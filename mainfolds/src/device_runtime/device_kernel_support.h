#pragma once

// Kernel bodies compile for the device under nvcc and for the host
// emulator under a plain C++ compiler.

#include <math.h>

#include "foundations/host_device.h"

namespace quendel::kernels {

/// Block and thread of one kernel invocation.
struct ThreadIndex {
    int blockX = 0;
    int blockY = 0;
    int threadX = 0;
    int threadY = 0;
};

#if defined(__CUDACC__)
__device__ inline ThreadIndex hardwareThreadIndex() {
    return {static_cast<int>(blockIdx.x), static_cast<int>(blockIdx.y),
            static_cast<int>(threadIdx.x), static_cast<int>(threadIdx.y)};
}
#endif

/// Pixel of a thread in a 2-D launch; `blockSize` is the edge the host
/// launched with.
struct Pixel {
    int x;
    int y;
};
QUENDEL_HOST_DEVICE inline Pixel pixelOf(const ThreadIndex& t, int blockSize) {
    return {t.blockX * blockSize + t.threadX, t.blockY * blockSize + t.threadY};
}

/// Row or column of a thread in a 1-D launch.
QUENDEL_HOST_DEVICE inline int lineOf(const ThreadIndex& t, int blockSize) {
    return t.blockX * blockSize + t.threadX;
}

}  // namespace quendel::kernels
