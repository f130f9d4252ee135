#include "recursive_sweeps.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "coefficient_powers.h"
#include "quendel/threads.h"
#include "simd_dispatch.h"

namespace quendel {

namespace {

// Rows whose sweeps one thread interleaves: each row is a chain of dependent
// operations, so several chains side by side keep the arithmetic units busy.
constexpr unsigned kRowsPerBatch = 4;
constexpr unsigned kMaxLanes = 8;
// Columns per vertical block: narrow enough that a block of every plane stays
// in the core's own cache between the downward and the upward sweep.
constexpr unsigned kBlockColumns = 64;

struct RowCoefficients {
    const float* values;
    float at(unsigned x) const { return values[x]; }
};

struct ConstantCoefficient {
    float value;
    float at(unsigned) const { return value; }
};

template <unsigned Lanes, class Coefficients>
QUENDEL_ALWAYS_INLINE void sweepLanesBothWays(float* const* rows, const Coefficients* coefficients,
                                              unsigned width) {
    float previous[Lanes];
    for (unsigned l = 0; l < Lanes; ++l) {
        previous[l] = rows[l][0];
    }
    for (unsigned x = 1; x < width; ++x) {
        for (unsigned l = 0; l < Lanes; ++l) {
            float value = rows[l][x];
            value = value + coefficients[l].at(x) * (previous[l] - value);
            rows[l][x] = value;
            previous[l] = value;
        }
    }
    for (unsigned x = width - 1; x-- > 0;) {
        for (unsigned l = 0; l < Lanes; ++l) {
            float value = rows[l][x];
            value = value + coefficients[l].at(x + 1) * (previous[l] - value);
            rows[l][x] = value;
            previous[l] = value;
        }
    }
}

template <class Coefficients>
void sweepRowsBothWays(float* const* rows, const Coefficients* coefficients, unsigned count,
                       unsigned width) {
    while (count >= 8) {
        sweepLanesBothWays<8>(rows, coefficients, width);
        rows += 8, coefficients += 8, count -= 8;
    }
    if (count >= 4) {
        sweepLanesBothWays<4>(rows, coefficients, width);
        rows += 4, coefficients += 4, count -= 4;
    }
    if (count >= 2) {
        sweepLanesBothWays<2>(rows, coefficients, width);
        rows += 2, coefficients += 2, count -= 2;
    }
    if (count == 1) {
        sweepLanesBothWays<1>(rows, coefficients, width);
    }
}

// Sweeps rows [firstRow, lastRow) of every plane, making their coefficient
// rows first when they come from distances.
void sweepRowBatch(const std::vector<float*>& planes, unsigned width, unsigned firstRow,
                   unsigned lastRow, const PassCoefficients& coefficients) {
    float* rows[kMaxLanes];
    RowCoefficients rowCoefficients[kMaxLanes];
    ConstantCoefficient constant[kMaxLanes];
    std::fill(constant, constant + kMaxLanes, ConstantCoefficient{coefficients.base});
    unsigned count = 0;
    auto flush = [&] {
        if (coefficients.plane != nullptr) {
            sweepRowsBothWays(rows, rowCoefficients, count, width);
        } else {
            sweepRowsBothWays(rows, constant, count, width);
        }
        count = 0;
    };
    for (unsigned y = firstRow; y < lastRow; ++y) {
        const std::size_t offset = static_cast<std::size_t>(y) * width;
        if (coefficients.plane != nullptr && coefficients.distances != nullptr) {
            fillCoefficientPowers(coefficients.plane + offset, coefficients.distances + offset,
                                  width, coefficients.base);
        }
        for (float* plane : planes) {
            rows[count] = plane + offset;
            if (coefficients.plane != nullptr) {
                rowCoefficients[count] = RowCoefficients{coefficients.plane + offset};
            }
            if (++count == kMaxLanes) {
                flush();
            }
        }
    }
    if (count > 0) {
        flush();
    }
}

// row[i] += a[i] * (neighbour[i] - row[i]), rounded at each operation.
QUENDEL_ALWAYS_INLINE void relaxTowards(float* __restrict row, const float* __restrict neighbour,
                                        const float* __restrict coefficients, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        row[i] = row[i] + coefficients[i] * (neighbour[i] - row[i]);
    }
}

QUENDEL_ALWAYS_INLINE void relaxTowards(float* __restrict row, const float* __restrict neighbour,
                                        float coefficient, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        row[i] = row[i] + coefficient * (neighbour[i] - row[i]);
    }
}

// Down then up through columns [x0, x0 + count) of every plane.
QUENDEL_SIMD_CLONES
void sweepColumnBlock(float* const* planes, std::size_t planeCount, unsigned width, unsigned height,
                      unsigned x0, unsigned count, const PassCoefficients& coefficients) {
    const std::size_t stride = width;
    auto at = [&](const float* plane, unsigned y) { return plane + y * stride + x0; };
    if (coefficients.plane == nullptr) {
        const float a = coefficients.base;
        for (unsigned y = 1; y < height; ++y) {
            for (std::size_t c = 0; c < planeCount; ++c) {
                relaxTowards(planes[c] + y * stride + x0, at(planes[c], y - 1), a, count);
            }
        }
        for (unsigned y = height - 1; y > 0; --y) {
            for (std::size_t c = 0; c < planeCount; ++c) {
                relaxTowards(planes[c] + (y - 1) * stride + x0, at(planes[c], y), a, count);
            }
        }
        return;
    }
    auto makeRow = [&](unsigned y) {
        if (coefficients.distances != nullptr) {
            fillCoefficientPowers(coefficients.plane + y * stride + x0,
                                  at(coefficients.distances, y), count, coefficients.base);
        }
    };
    makeRow(0);
    for (unsigned y = 1; y < height; ++y) {
        makeRow(y);
        const float* a = at(coefficients.plane, y);
        for (std::size_t c = 0; c < planeCount; ++c) {
            relaxTowards(planes[c] + y * stride + x0, at(planes[c], y - 1), a, count);
        }
    }
    for (unsigned y = height - 1; y > 0; --y) {
        const float* a = at(coefficients.plane, y);
        for (std::size_t c = 0; c < planeCount; ++c) {
            relaxTowards(planes[c] + (y - 1) * stride + x0, at(planes[c], y), a, count);
        }
    }
}

std::vector<float*> planesOf(CpuTexture& texture) {
    std::vector<float*> planes(texture.getChannelsCount());
    for (unsigned c = 0; c < planes.size(); ++c) {
        planes[c] = texture.getChannel(c);
    }
    return planes;
}

}  // namespace

void horizontalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients) {
    const unsigned width = texture.getWidth();
    const unsigned height = texture.getHeight();
    if (width == 0 || height == 0) {
        return;
    }
    const std::vector<float*> planes = planesOf(texture);
    const unsigned batches = (height + kRowsPerBatch - 1) / kRowsPerBatch;
#pragma omp parallel for num_threads(threadCount()) schedule(static)
    for (unsigned batch = 0; batch < batches; ++batch) {
        const unsigned first = batch * kRowsPerBatch;
        sweepRowBatch(planes, width, first, std::min(height, first + kRowsPerBatch), coefficients);
    }
}

void verticalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients) {
    const unsigned width = texture.getWidth();
    const unsigned height = texture.getHeight();
    if (width == 0 || height == 0) {
        return;
    }
    const std::vector<float*> planes = planesOf(texture);
    const unsigned blocks = (width + kBlockColumns - 1) / kBlockColumns;
#pragma omp parallel for num_threads(threadCount()) schedule(static)
    for (unsigned block = 0; block < blocks; ++block) {
        const unsigned x0 = block * kBlockColumns;
        sweepColumnBlock(planes.data(), planes.size(), width, height, x0,
                         std::min(width - x0, kBlockColumns), coefficients);
    }
}

}  // namespace quendel
