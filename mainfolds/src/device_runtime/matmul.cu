// Matrix-product kernels of the feature reduction: a scatter product and
// two projections. Single-thread blocks; every sum is fused term by term in
// index order.

#include "device_runtime/device_kernel_definition.h"
#include "device_runtime/device_kernels.h"

namespace quendel::kernels {

namespace {

/// Rows [begin, end) that block `block` handles when `rows` are split into
/// 32 chunks.
struct RowRange {
    int begin;
    int end;
};
QUENDEL_HOST_DEVICE inline RowRange rowsOfBlock(int block, int rows) {
    const int chunk = static_cast<int>(ceilf(rows * 0.03125f));
    const int begin = block * chunk;
    const int end = begin + chunk < rows ? begin + chunk : rows;
    return {begin, end};
}

}  // namespace

/// result = m^T m for m of rows x columns; block (x, y) computes element
/// (y, x).
QUENDEL_HOST_DEVICE inline void Mt_M_mul(const ThreadIndex& t, float* m, int rows, int columns,
                                         float* result) {
    const int x = t.blockX;
    const int y = t.blockY;
    if (x >= columns || y >= columns) {
        return;
    }
    float sum = 0.0f;
    for (int k = 0; k < rows; ++k) {
        sum = fmaf(m[k * columns + y], m[k * columns + x], sum);
    }
    result[y * columns + x] = sum;
}

/// Projects every row of m onto the last `count` rows of the square
/// `vectors`, the last of them first.
QUENDEL_HOST_DEVICE inline void mat_evec_mul(const ThreadIndex& t, float* m, int rows, int columns,
                                             float* vectors, int count, float* result) {
    const RowRange range = rowsOfBlock(t.blockX, rows);
    for (int row = range.begin; row < range.end; ++row) {
        for (int j = 0; j < count; ++j) {
            const float* vector = vectors + (columns - count + j) * columns;
            float sum = 0.0f;
            for (int k = 0; k < columns; ++k) {
                sum = fmaf(m[row * columns + k], vector[k], sum);
            }
            result[row * count + (count - 1 - j)] = sum;
        }
    }
}

/// result(row, j) = sum over k < count of m(row, k) * vectors(j, k).
QUENDEL_HOST_DEVICE inline void mat_eigVecs_mul(const ThreadIndex& t, float* m, float* vectors,
                                                int rows, int columns, float* result, int count) {
    const RowRange range = rowsOfBlock(t.blockX, rows);
    for (int row = range.begin; row < range.end; ++row) {
        for (int j = 0; j < count; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < count; ++k) {
                sum = fmaf(m[row * columns + k], vectors[j * columns + k], sum);
            }
            result[row * count + j] = sum;
        }
    }
}

}  // namespace quendel::kernels

// clang-format off
QUENDEL_DEFINE_KERNEL(Mt_M_mul,
    (float* m, int rows, int columns, float* result),
    (m, rows, columns, result))
QUENDEL_DEFINE_KERNEL(mat_evec_mul,
    (float* m, int rows, int columns, float* vectors, int count, float* result),
    (m, rows, columns, vectors, count, result))
QUENDEL_DEFINE_KERNEL(mat_eigVecs_mul,
    (float* m, float* vectors, int rows, int columns, float* result, int count),
    (m, vectors, rows, columns, result, count))
// clang-format on

namespace quendel::device {

std::span<const KernelEntry> matmulKernels() {
    static const KernelEntry kernels[] = {
        QUENDEL_KERNEL_ENTRY("matmul", mat_evec_mul),
        QUENDEL_KERNEL_ENTRY("matmul", mat_eigVecs_mul),
        QUENDEL_KERNEL_ENTRY("matmul", Mt_M_mul),
    };
    return kernels;
}

}  // namespace quendel::device
