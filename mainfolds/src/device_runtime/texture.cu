// Element-wise difference of two device buffers, used by GpuMatrix::minus.

#include "device_runtime/device_kernel_definition.h"
#include "device_runtime/device_kernels.h"

namespace quendel::kernels {

QUENDEL_HOST_DEVICE inline void minusKernel(const ThreadIndex& t, float* a, float* b, int width,
                                            int height, int blockSize) {
    const Pixel p = pixelOf(t, blockSize);
    if (p.x < width && p.y < height) {
        const int i = p.y * width + p.x;
        a[i] = a[i] - b[i];
    }
}

}  // namespace quendel::kernels

// clang-format off
QUENDEL_DEFINE_KERNEL(minusKernel,
    (float* a, float* b, int width, int height, int blockSize),
    (a, b, width, height, blockSize))
// clang-format on

namespace quendel::device {

std::span<const KernelEntry> textureKernels() {
    static const KernelEntry kernels[] = {
        QUENDEL_KERNEL_ENTRY("texture", minusKernel),
    };
    return kernels;
}

}  // namespace quendel::device
