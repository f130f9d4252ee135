#include "guide/scatter_matrix.h"

#include <algorithm>
#include <array>

#include "foundations/float_lanes.h"
#include "foundations/simd_dispatch.h"
#include "foundations/team_for_work.h"
#include "guide/patch_features.h"

namespace quendel {

namespace {

// Accumulator rows are padded to whole vectors so the inner loop has no
// remainder; the padding sums products with zero features and is dropped.
constexpr size_t kLanes = kFloatLanes;
// Pixels gathered at a time: a tile of features stays in the first cache.
constexpr unsigned kTilePixels = 128;

size_t paddedLength(size_t length) {
    return (length + kLanes - 1) / kLanes * kLanes;
}

// A share of the work: one pixel block and the triangle rows [rowBegin, rowEnd).
struct Task {
    int block;
    ItemRange pixels;
    int rowBegin;
    int rowEnd;
};

// Splits the triangle rows into `groups` ranges of about equal work.
std::vector<int> rowBounds(int rows, int groups) {
    std::vector<size_t> cost(static_cast<size_t>(rows) + 1, 0);
    for (int i = 0; i < rows; ++i) {
        cost[i + 1] = cost[i] + paddedLength(static_cast<size_t>(i) + 1);
    }
    std::vector<int> bounds{0};
    for (int g = 1; g < groups; ++g) {
        const size_t target = cost[rows] * g / groups;
        const auto it = std::lower_bound(cost.begin(), cost.end(), target);
        bounds.push_back(std::max(bounds.back(), static_cast<int>(it - cost.begin())));
    }
    bounds.push_back(rows);
    return bounds;
}

using Lanes = FloatLanes;

// Rows [i, i + Rows), lane vectors [first, first + Count): the
// accumulators stay in registers across the tile, each still summed in
// pixel order.
template <int Count, int Rows>
QUENDEL_ALWAYS_INLINE void accumulateRows(const float* tile, unsigned pixelCount, size_t stride,
                                          int i, size_t first, float* sums) {
    Lanes sum[Rows][Count];
    for (int r = 0; r < Rows; ++r) {
        const float* row = sums + static_cast<size_t>(i + r) * stride + first * kLanes;
        for (int q = 0; q < Count; ++q)
            sum[r][q] = reinterpret_cast<const UnalignedFloatLanes*>(row + q * kLanes)->value;
    }
    for (unsigned p = 0; p < pixelCount; ++p) {
        const float* v = tile + p * stride;
        const float* columns = v + first * kLanes;
        Lanes factor[Rows];
        for (int r = 0; r < Rows; ++r) factor[r] = Lanes{} + v[i + r];
        for (int q = 0; q < Count; ++q) {
            const Lanes x =
                reinterpret_cast<const UnalignedFloatLanes*>(columns + q * kLanes)->value;
            for (int r = 0; r < Rows; ++r) sum[r][q] = sum[r][q] + factor[r] * x;
        }
    }
    for (int r = 0; r < Rows; ++r) {
        float* row = sums + static_cast<size_t>(i + r) * stride + first * kLanes;
        for (int q = 0; q < Count; ++q)
            reinterpret_cast<UnalignedFloatLanes*>(row + q * kLanes)->value = sum[r][q];
    }
}

template <int Rows>
QUENDEL_ALWAYS_INLINE void accumulateRowGroup(const float* tile, unsigned pixelCount, size_t stride,
                                              int i, size_t vectors, float* sums) {
    // At most eight accumulators: AVX2 has sixteen registers in all.
    constexpr int kWidest = Rows >= 2 ? 8 / Rows : 4;
    size_t first = 0;
    for (; first + kWidest <= vectors; first += kWidest) {
        accumulateRows<kWidest, Rows>(tile, pixelCount, stride, i, first, sums);
    }
    switch (vectors - first) {
        case 3:
            accumulateRows<3, Rows>(tile, pixelCount, stride, i, first, sums);
            break;
        case 2:
            accumulateRows<2, Rows>(tile, pixelCount, stride, i, first, sums);
            break;
        case 1:
            accumulateRows<1, Rows>(tile, pixelCount, stride, i, first, sums);
            break;
        default:
            break;
    }
}

// Adds the products of one tile of pixel-major features into the rows
// [rowBegin, rowEnd). Short rows go four at a time, so that enough sums are
// in flight to hide the additions' latency; longer ones two at a time. The
// lanes past a row's own column are padding, summed and dropped.
QUENDEL_ALWAYS_INLINE void accumulateTileBody(const float* tile, unsigned pixelCount, size_t stride,
                                              int rowBegin, int rowEnd, float* sums) {
    int i = rowBegin;
    for (; i + 3 < rowEnd && paddedLength(static_cast<size_t>(i) + 4) <= 2 * kLanes; i += 4) {
        const size_t vectors = paddedLength(static_cast<size_t>(i) + 4) / kLanes;
        accumulateRowGroup<4>(tile, pixelCount, stride, i, vectors, sums);
    }
    for (; i + 1 < rowEnd; i += 2) {
        const size_t vectors = paddedLength(static_cast<size_t>(i) + 2) / kLanes;
        accumulateRowGroup<2>(tile, pixelCount, stride, i, vectors, sums);
    }
    if (i < rowEnd) {
        const size_t vectors = paddedLength(static_cast<size_t>(i) + 1) / kLanes;
        accumulateRowGroup<1>(tile, pixelCount, stride, i, vectors, sums);
    }
}
QUENDEL_SIMD_DISPATCH(accumulateTile, accumulateTileBody)

// Partial sums of one task, in pixel order, into `sums` (stride x stride).
void sumTask(const PatchFeatures& features, const float* centre, const Task& task, size_t stride,
             float* sums) {
    const unsigned width = features.width();
    std::vector<float> tile(stride * kTilePixels, 0.0f);
    size_t pixel = task.pixels.begin;
    while (pixel < task.pixels.end) {
        const unsigned y = static_cast<unsigned>(pixel / width);
        const unsigned x = static_cast<unsigned>(pixel % width);
        const size_t rowLeft = std::min<size_t>(width - x, task.pixels.end - pixel);
        const unsigned count = static_cast<unsigned>(std::min<size_t>(rowLeft, kTilePixels));
        features.gather(y, x, x + count, 0, task.rowEnd, centre, tile.data(), 1, stride);
        accumulateTile(tile.data(), count, stride, task.rowBegin, task.rowEnd, sums);
        pixel += count;
    }
}

}  // namespace

ItemRange staticBlock(size_t count, int parts, int index) {
    const size_t n = static_cast<size_t>(parts);
    const size_t i = static_cast<size_t>(index);
    size_t size = count / n;
    size_t extra = count % n;
    if (i < extra) {
        ++size;
        extra = 0;
    }
    const size_t begin = size * i + extra;
    return {begin, begin + size};
}

CpuMatrix scatterMatrix(const PatchFeatures& features, const std::vector<float>& centre) {
    const int d = features.count();
    const size_t stride = paddedLength(static_cast<size_t>(d));
    // Beyond four threads the rows are shared out as well as the blocks.
    const int groups = std::max(1, (workerCount() + kScatterBlocks - 1) / kScatterBlocks);
    const std::vector<int> bounds = rowBounds(d, groups);
    std::vector<Task> tasks;
    for (int b = 0; b < kScatterBlocks; ++b) {
        for (int g = 0; g < groups; ++g) {
            if (bounds[g] < bounds[g + 1]) {
                tasks.push_back({b, staticBlock(features.pixels(), kScatterBlocks, b), bounds[g],
                                 bounds[g + 1]});
            }
        }
    }
    const size_t blockSize = stride * stride;
    std::vector<float> partial(blockSize * kScatterBlocks, 0.0f);
    const int taskCount = static_cast<int>(tasks.size());
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (int t = 0; t < taskCount; ++t) {
        float* sums = partial.data() + static_cast<size_t>(tasks[t].block) * blockSize;
        sumTask(features, centre.data(), tasks[t], stride, sums);
    }

    CpuMatrix scatter(d, d);
    float* m = scatter.getData();
    for (int i = 0; i < d; ++i) {
        for (int j = 0; j <= i; ++j) {
            const size_t at = static_cast<size_t>(i) * stride + j;
            float sum = 0.0f;
            for (int b = 0; b < kScatterBlocks; ++b) {
                sum = sum + partial[b * blockSize + at];
            }
            m[static_cast<size_t>(i) * d + j] = sum;
            m[static_cast<size_t>(j) * d + i] = sum;
        }
    }
    return scatter;
}

}  // namespace quendel
