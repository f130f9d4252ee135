// Filter kernels: recursive sweeps and the pointwise steps of the filters.
// Every body runs unchanged on a device and in the host emulator; fmaf
// appears exactly where a step is fused, everything else rounds per
// operation.

#include "device_runtime/device_kernel_definition.h"
#include "device_runtime/device_kernels.h"

namespace quendel::kernels {

namespace {

/// Recursive smoothing of one line in place, forward then backward, with
/// one feedback coefficient.
QUENDEL_HOST_DEVICE inline void sweepWithConstant(float* line, int length, int stride, float a) {
    for (int k = 1; k < length; ++k) {
        const float v = line[k * stride];
        line[k * stride] = fmaf(line[(k - 1) * stride] - v, a, v);
    }
    for (int k = length - 2; k >= 0; --k) {
        const float v = line[k * stride];
        line[k * stride] = fmaf(line[(k + 1) * stride] - v, a, v);
    }
}

/// The same with per-element coefficients: the coefficient stored at an
/// element couples it to its predecessor, in both directions.
QUENDEL_HOST_DEVICE inline void sweepWithCoefficients(float* line, const float* coefficients,
                                                      int length, int stride) {
    for (int k = 1; k < length; ++k) {
        const float v = line[k * stride];
        line[k * stride] = fmaf(line[(k - 1) * stride] - v, coefficients[k * stride], v);
    }
    for (int k = length - 2; k >= 0; --k) {
        const float v = line[k * stride];
        line[k * stride] = fmaf(line[(k + 1) * stride] - v, coefficients[(k + 1) * stride], v);
    }
}

/// Index of the thread's pixel, or -1 outside the plane.
QUENDEL_HOST_DEVICE inline int elementOf(const ThreadIndex& t, int width, int height,
                                         int blockSize) {
    const Pixel p = pixelOf(t, blockSize);
    return p.x < width && p.y < height ? p.y * width + p.x : -1;
}

}  // namespace

QUENDEL_HOST_DEVICE inline void horizontalHKernel(const ThreadIndex& t, float* data, int width,
                                                  int height, int blockSize, float a) {
    const int row = lineOf(t, blockSize);
    if (row < height) {
        sweepWithConstant(data + row * width, width, 1, a);
    }
}

QUENDEL_HOST_DEVICE inline void verticalHKernel(const ThreadIndex& t, float* data, int width,
                                                int height, int blockSize, float a) {
    const int column = lineOf(t, blockSize);
    if (column < width) {
        sweepWithConstant(data + column, height, width, a);
    }
}

QUENDEL_HOST_DEVICE inline void horizontalRTKernel(const ThreadIndex& t, float* data, int width,
                                                   int height, float* coefficients, int blockSize) {
    const int row = lineOf(t, blockSize);
    if (row < height) {
        sweepWithCoefficients(data + row * width, coefficients + row * width, width, 1);
    }
}

QUENDEL_HOST_DEVICE inline void verticalRTKernel(const ThreadIndex& t, float* data, int width,
                                                 int height, float* coefficients, int blockSize) {
    const int column = lineOf(t, blockSize);
    if (column < width) {
        sweepWithCoefficients(data + column, coefficients + column, height, width);
    }
}

QUENDEL_HOST_DEVICE inline void diffsAccumulateSum(const ThreadIndex& t, float* image, int width,
                                                   int height, int blockSize, float* horizontalSums,
                                                   float* verticalSums) {
    const Pixel p = pixelOf(t, blockSize);
    if (p.x >= width || p.y >= height) {
        return;
    }
    const int i = p.y * width + p.x;
    const float v = image[i];
    if (p.x >= 1) {
        const float d = v - image[i - 1];
        horizontalSums[i] = fmaf(d, d, horizontalSums[i]);
    }
    if (p.y >= 1) {
        const float d = v - image[i - width];
        verticalSums[i] = fmaf(d, d, verticalSums[i]);
    }
}

QUENDEL_HOST_DEVICE inline void diffCompute(const ThreadIndex& t, float* sums, int width,
                                            int height, int blockSize, float k0, float k1) {
    const int i = elementOf(t, width, height, blockSize);
    if (i >= 0) {
        sums[i] = sqrtf(fmaf(sums[i], k1, k0));
    }
}

QUENDEL_HOST_DEVICE inline void power(const ThreadIndex& t, float* exponents, int width, int height,
                                      float base, int blockSize, float* result) {
    const int i = elementOf(t, width, height, blockSize);
    if (i >= 0) {
        result[i] = powf(base, exponents[i]);
    }
}

QUENDEL_HOST_DEVICE inline void accumulateWeights(const ThreadIndex& t, float* a, float* b,
                                                  int width, int height, int blockSize,
                                                  float* sums) {
    const int i = elementOf(t, width, height, blockSize);
    if (i >= 0) {
        const float d = a[i] - b[i];
        sums[i] = fmaf(d, d, sums[i]);
    }
}

QUENDEL_HOST_DEVICE inline void computeWeights(const ThreadIndex& t, float* data, int width,
                                               int height, int blockSize, float scale) {
    const int i = elementOf(t, width, height, blockSize);
    if (i >= 0) {
        const float factor = (scale * -2.0f) * scale;
        data[i] = expf(factor * data[i]);
    }
}

QUENDEL_HOST_DEVICE inline void accumulateWeightedSum(const ThreadIndex& t, float* values,
                                                      float* weights, int width, int height,
                                                      int blockSize, float* sums) {
    const int i = elementOf(t, width, height, blockSize);
    if (i >= 0) {
        sums[i] = fmaf(values[i], weights[i], sums[i]);
    }
}

QUENDEL_HOST_DEVICE inline void divide(const ThreadIndex& t, float* numerator, float* denominator,
                                       int width, int height, int blockSize, float* quotient) {
    const int i = elementOf(t, width, height, blockSize);
    if (i >= 0) {
        quotient[i] = numerator[i] / denominator[i];
    }
}

}  // namespace quendel::kernels

// clang-format off
QUENDEL_DEFINE_KERNEL(horizontalHKernel,
    (float* data, int width, int height, int blockSize, float a),
    (data, width, height, blockSize, a))
QUENDEL_DEFINE_KERNEL(verticalHKernel,
    (float* data, int width, int height, int blockSize, float a),
    (data, width, height, blockSize, a))
QUENDEL_DEFINE_KERNEL(diffsAccumulateSum,
    (float* image, int width, int height, int blockSize, float* horizontalSums, float* verticalSums),
    (image, width, height, blockSize, horizontalSums, verticalSums))
QUENDEL_DEFINE_KERNEL(diffCompute,
    (float* sums, int width, int height, int blockSize, float k0, float k1),
    (sums, width, height, blockSize, k0, k1))
QUENDEL_DEFINE_KERNEL(power,
    (float* exponents, int width, int height, float base, int blockSize, float* result),
    (exponents, width, height, base, blockSize, result))
QUENDEL_DEFINE_KERNEL(horizontalRTKernel,
    (float* data, int width, int height, float* coefficients, int blockSize),
    (data, width, height, coefficients, blockSize))
QUENDEL_DEFINE_KERNEL(verticalRTKernel,
    (float* data, int width, int height, float* coefficients, int blockSize),
    (data, width, height, coefficients, blockSize))
QUENDEL_DEFINE_KERNEL(accumulateWeights,
    (float* a, float* b, int width, int height, int blockSize, float* sums),
    (a, b, width, height, blockSize, sums))
QUENDEL_DEFINE_KERNEL(computeWeights,
    (float* data, int width, int height, int blockSize, float scale),
    (data, width, height, blockSize, scale))
QUENDEL_DEFINE_KERNEL(accumulateWeightedSum,
    (float* values, float* weights, int width, int height, int blockSize, float* sums),
    (values, weights, width, height, blockSize, sums))
QUENDEL_DEFINE_KERNEL(divide,
    (float* numerator, float* denominator, int width, int height, int blockSize, float* quotient),
    (numerator, denominator, width, height, blockSize, quotient))
// clang-format on

namespace quendel::device {

std::span<const KernelEntry> abstractFilterKernels() {
    static const KernelEntry kernels[] = {
        QUENDEL_KERNEL_ENTRY("abstract_filter", divide),
        QUENDEL_KERNEL_ENTRY("abstract_filter", accumulateWeightedSum),
        QUENDEL_KERNEL_ENTRY("abstract_filter", computeWeights),
        QUENDEL_KERNEL_ENTRY("abstract_filter", accumulateWeights),
        QUENDEL_KERNEL_ENTRY("abstract_filter", verticalRTKernel),
        QUENDEL_KERNEL_ENTRY("abstract_filter", horizontalRTKernel),
        QUENDEL_KERNEL_ENTRY("abstract_filter", power),
        QUENDEL_KERNEL_ENTRY("abstract_filter", diffCompute),
        QUENDEL_KERNEL_ENTRY("abstract_filter", diffsAccumulateSum),
        QUENDEL_KERNEL_ENTRY("abstract_filter", verticalHKernel),
        QUENDEL_KERNEL_ENTRY("abstract_filter", horizontalHKernel),
    };
    return kernels;
}

}  // namespace quendel::device
