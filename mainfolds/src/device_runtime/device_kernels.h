#pragma once

// Host launchers of the library's device kernels. Each takes the launch
// shape and then the kernel's parameters in order; it launches on the
// active runtime and checks nothing (a failure shows at the next checked
// device call). Buffers must hold the planes the kernel reads and writes.
//
// Pointwise kernels take shape2D(width, height) and blockSize kBlock2D;
// the sweeps take shape1D(height) over rows or shape1D(width) over columns
// and blockSize kBlock1D.

#include "device_runtime/device_launch_shape.h"

namespace quendel::device::launch {

// Filter kernels.
void horizontalHKernel(const LaunchShape& shape, float* data, int width, int height, int blockSize,
                       float a);
void verticalHKernel(const LaunchShape& shape, float* data, int width, int height, int blockSize,
                     float a);
void diffsAccumulateSum(const LaunchShape& shape, float* image, int width, int height,
                        int blockSize, float* horizontalSums, float* verticalSums);
void diffCompute(const LaunchShape& shape, float* sums, int width, int height, int blockSize,
                 float k0, float k1);
void power(const LaunchShape& shape, float* exponents, int width, int height, float base,
           int blockSize, float* result);
void horizontalRTKernel(const LaunchShape& shape, float* data, int width, int height,
                        float* coefficients, int blockSize);
void verticalRTKernel(const LaunchShape& shape, float* data, int width, int height,
                      float* coefficients, int blockSize);
void accumulateWeights(const LaunchShape& shape, float* a, float* b, int width, int height,
                       int blockSize, float* sums);
void computeWeights(const LaunchShape& shape, float* data, int width, int height, int blockSize,
                    float scale);
void accumulateWeightedSum(const LaunchShape& shape, float* values, float* weights, int width,
                           int height, int blockSize, float* sums);
void divide(const LaunchShape& shape, float* numerator, float* denominator, int width, int height,
            int blockSize, float* quotient);

// Matrix products: single-thread blocks, columns x columns for Mt_M_mul and
// 32 for the other two.
void Mt_M_mul(const LaunchShape& shape, float* m, int rows, int columns, float* result);
void mat_evec_mul(const LaunchShape& shape, float* m, int rows, int columns, float* vectors,
                  int count, float* result);
void mat_eigVecs_mul(const LaunchShape& shape, float* m, float* vectors, int rows, int columns,
                     float* result, int count);

// Element-wise difference a = a - b.
void minusKernel(const LaunchShape& shape, float* a, float* b, int width, int height,
                 int blockSize);

}  // namespace quendel::device::launch
