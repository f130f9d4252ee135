#include "host_filters/recursive_sweeps.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "foundations/float_lanes.h"
#include "foundations/lane_transpose.h"
#include "foundations/simd_dispatch.h"
#include "host_filters/coefficient_powers.h"

namespace quendel {

namespace {

// Rows are swept eight at a time, transposed so that one vector holds the
// same column of eight rows: the recursion along x then runs on whole
// vectors. Several such groups are interleaved, each a chain of dependent
// operations, to keep the arithmetic units busy.
constexpr unsigned kGroupRows = 8;
constexpr unsigned kGroupsPerBatch = 2;
constexpr unsigned kRowsPerBatch = kGroupRows * kGroupsPerBatch;
constexpr unsigned kMaxChains = 8;
// Groups in one batch at most: a batch of a single plane fills every chain.
constexpr unsigned kMaxBatchGroups = kMaxChains;
// Vertical blocks start on cache-line boundaries.
constexpr unsigned kColumnAlignment = 16;

typedef float Octet __attribute__((vector_size(kGroupRows * sizeof(float))));

// columns[x] = {rows[0][x], ..., rows[7][x]}. Rows are read and written as
// Unaligned vectors: the 16-byte halves of a split move stall the reload.
QUENDEL_ALWAYS_INLINE void gatherColumns(const float* const* rows, unsigned width, Octet* columns) {
    unsigned x = 0;
    for (; x + kGroupRows <= width; x += kGroupRows) {
        Octet m[kGroupRows];
        for (unsigned r = 0; r < kGroupRows; ++r) {
            m[r] = reinterpret_cast<const Unaligned<Octet>*>(rows[r] + x)->value;
        }
        transposeEight(m);
        for (unsigned j = 0; j < kGroupRows; ++j) {
            columns[x + j] = m[j];
        }
    }
    for (; x < width; ++x) {
        for (unsigned r = 0; r < kGroupRows; ++r) {
            columns[x][r] = rows[r][x];
        }
    }
}

QUENDEL_ALWAYS_INLINE void scatterColumns(const Octet* columns, unsigned width,
                                          float* const* rows) {
    unsigned x = 0;
    for (; x + kGroupRows <= width; x += kGroupRows) {
        Octet m[kGroupRows];
        for (unsigned j = 0; j < kGroupRows; ++j) {
            m[j] = columns[x + j];
        }
        transposeEight(m);
        for (unsigned r = 0; r < kGroupRows; ++r) {
            reinterpret_cast<Unaligned<Octet>*>(rows[r] + x)->value = m[r];
        }
    }
    for (; x < width; ++x) {
        for (unsigned r = 0; r < kGroupRows; ++r) {
            rows[r][x] = columns[x][r];
        }
    }
}

struct ColumnCoefficients {
    const Octet* values;
    QUENDEL_ALWAYS_INLINE const Octet& at(unsigned x) const { return values[x]; }
};

struct ConstantCoefficient {
    Octet value;
    QUENDEL_ALWAYS_INLINE const Octet& at(unsigned) const { return value; }
};

// Left to right with the coefficient of the pixel itself, then right to left
// with that of its right neighbour, on `Chains` transposed groups at once.
template <unsigned Chains, class Coefficients>
QUENDEL_ALWAYS_INLINE void sweepChains(Octet* const* values, const Coefficients* coefficients,
                                       unsigned width) {
    Octet previous[Chains];
    for (unsigned c = 0; c < Chains; ++c) {
        previous[c] = values[c][0];
    }
    for (unsigned x = 1; x < width; ++x) {
        for (unsigned c = 0; c < Chains; ++c) {
            Octet value = values[c][x];
            value = value + coefficients[c].at(x) * (previous[c] - value);
            values[c][x] = value;
            previous[c] = value;
        }
    }
    for (unsigned x = width - 1; x-- > 0;) {
        for (unsigned c = 0; c < Chains; ++c) {
            Octet value = values[c][x];
            value = value + coefficients[c].at(x + 1) * (previous[c] - value);
            values[c][x] = value;
            previous[c] = value;
        }
    }
}

template <class Coefficients>
QUENDEL_ALWAYS_INLINE void sweepAnyChains(Octet* const* values, const Coefficients* coefficients,
                                          unsigned count, unsigned width) {
    switch (count) {
        case 8:
            return sweepChains<8>(values, coefficients, width);
        case 7:
            return sweepChains<7>(values, coefficients, width);
        case 6:
            return sweepChains<6>(values, coefficients, width);
        case 5:
            return sweepChains<5>(values, coefficients, width);
        case 4:
            return sweepChains<4>(values, coefficients, width);
        case 3:
            return sweepChains<3>(values, coefficients, width);
        case 2:
            return sweepChains<2>(values, coefficients, width);
        case 1:
            return sweepChains<1>(values, coefficients, width);
        default:
            return;
    }
}

// One group: eight rows of one plane, with the transposed coefficients of
// their rows (null for the constant).
struct RowGroup {
    float* rows[kGroupRows];
    const Octet* coefficients;
};

// Thread-local room for transposed rows. Buffers are spaced a little more
// than a page multiple apart: loading from one right after storing at the
// same page offset of another would stall on a false dependency.
class TransposeBuffers {
  public:
    Octet* get(unsigned index, unsigned width) {
        const std::size_t spacing = width + 3;
        const std::size_t needed = (spacing * (kMaxBatchGroups + kMaxChains) + 1) * kGroupRows;
        if (storage.size() < needed) {
            storage.resize(needed);
        }
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(storage.data());
        const std::uintptr_t aligned = (start + sizeof(Octet) - 1) / sizeof(Octet) * sizeof(Octet);
        return reinterpret_cast<Octet*>(aligned) + index * spacing;
    }

  private:
    std::vector<float> storage;
};

QUENDEL_ALWAYS_INLINE void sweepGroupsBody(const RowGroup* groups, unsigned count, unsigned width,
                                           float constant, Octet* const* chainBuffers) {
    ColumnCoefficients perPixel[kMaxChains];
    ConstantCoefficient fixed[kMaxChains];
    Octet* values[kMaxChains];
    for (unsigned first = 0; first < count; first += kMaxChains) {
        const unsigned chains = std::min(kMaxChains, count - first);
        for (unsigned c = 0; c < chains; ++c) {
            const RowGroup& group = groups[first + c];
            values[c] = chainBuffers[c];
            gatherColumns(group.rows, width, values[c]);
            perPixel[c] = ColumnCoefficients{group.coefficients};
            fixed[c] = ConstantCoefficient{Octet{} + constant};
        }
        if (groups[first].coefficients != nullptr) {
            sweepAnyChains(values, perPixel, chains, width);
        } else {
            sweepAnyChains(values, fixed, chains, width);
        }
        for (unsigned c = 0; c < chains; ++c) {
            scatterColumns(values[c], width, groups[first + c].rows);
        }
    }
}
QUENDEL_SIMD_DISPATCH(sweepGroups, sweepGroupsBody)

QUENDEL_ALWAYS_INLINE void transposeCoefficientsBody(const float* const* rows, unsigned width,
                                                     Octet* columns) {
    gatherColumns(rows, width, columns);
}
QUENDEL_SIMD_DISPATCH(transposeCoefficients, transposeCoefficientsBody)

// Sweeps rows [firstRow, lastRow) of every plane, making their coefficient
// rows first when they come from distances. A group short of eight rows
// repeats its last row: the repeats compute and store the very same values.
void sweepRowBatch(const std::vector<float*>& planes, unsigned width, unsigned firstRow,
                   unsigned lastRow, const PassCoefficients& coefficients, const PowerBase& base) {
    thread_local TransposeBuffers buffers;
    thread_local std::vector<float> batchPowers;
    const bool perPixel = coefficients.plane != nullptr || coefficients.rowGroups != nullptr;
    if (planes.empty()) {
        return;
    }
    // Powers made from distances stay in a buffer of the batch, in the cache
    // until they are transposed, instead of going out to the plane.
    // Row y of the coefficients is row y - coefficientsFirstRow there.
    const float* coefficientRows = coefficients.plane;
    unsigned coefficientsFirstRow = 0;
    if (coefficients.plane != nullptr && coefficients.distances != nullptr) {
        const std::size_t offset = static_cast<std::size_t>(firstRow) * width;
        const std::size_t count = std::size_t{lastRow - firstRow} * width;
        batchPowers.resize(std::max(batchPowers.size(), count));
        fillCoefficientPowers(batchPowers.data(), coefficients.distances + offset, count, base);
        coefficientRows = batchPowers.data();
        coefficientsFirstRow = firstRow;
    }
    Octet* chainBuffers[kMaxChains];
    for (unsigned c = 0; c < kMaxChains; ++c) {
        chainBuffers[c] = buffers.get(kMaxBatchGroups + c, width);
    }
    RowGroup groups[kMaxChains];
    unsigned count = 0;
    auto flush = [&] {
        sweepGroups(groups, count, width, coefficients.base, chainBuffers);
        count = 0;
    };
    unsigned groupIndex = 0;
    for (unsigned y = firstRow; y < lastRow; y += kGroupRows, ++groupIndex) {
        const unsigned rows = std::min(kGroupRows, lastRow - y);
        auto rowOf = [&](auto* plane, unsigned r, unsigned planeFirstRow = 0) {
            return plane + std::size_t{y - planeFirstRow + std::min(r, rows - 1)} * width;
        };
        const Octet* transposed = nullptr;
        if (coefficients.rowGroups != nullptr) {
            transposed = reinterpret_cast<const Octet*>(coefficients.rowGroups) +
                         std::size_t{y / kGroupRows} * width;
        } else if (perPixel) {
            const float* groupRows[kGroupRows];
            for (unsigned r = 0; r < kGroupRows; ++r) {
                groupRows[r] = rowOf(coefficientRows, r, coefficientsFirstRow);
            }
            Octet* target = buffers.get(groupIndex, width);
            transposeCoefficients(groupRows, width, target);
            transposed = target;
        }
        for (float* plane : planes) {
            RowGroup& group = groups[count];
            for (unsigned r = 0; r < kGroupRows; ++r) {
                group.rows[r] = rowOf(plane, r);
            }
            group.coefficients = transposed;
            if (++count == kMaxChains) {
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

// A block of columns [x0, x0 + count) of every plane, swept together row by
// row: each coefficient row is read once for all the planes.
struct ColumnBlock {
    float* const* planes;
    unsigned planeCount;
    unsigned width;
    unsigned x0;
    unsigned count;
    /// When set, makes the block's coefficients of row y before it is used.
    const std::function<void(unsigned y)>* powers = nullptr;
};

// Down through the block, each row relaxed towards the row above with its
// own coefficient (the per-pixel `coefficientPlane` or, when it is null, the
// constant).
QUENDEL_ALWAYS_INLINE void sweepColumnsDownBody(const ColumnBlock& block, unsigned height,
                                                const float* coefficientPlane, float constant) {
    auto at = [&](auto* base, unsigned y) {
        return base + std::size_t{y} * block.width + block.x0;
    };
    for (unsigned y = 1; y < height; ++y) {
        if (block.powers != nullptr) {
            (*block.powers)(y);
        }
        for (unsigned p = 0; p < block.planeCount; ++p) {
            float* plane = block.planes[p];
            if (coefficientPlane == nullptr) {
                relaxTowards(at(plane, y), at(plane, y - 1), constant, block.count);
            } else {
                relaxTowards(at(plane, y), at(plane, y - 1), at(coefficientPlane, y), block.count);
            }
        }
    }
}
QUENDEL_SIMD_DISPATCH(sweepColumnsDown, sweepColumnsDownBody)

// Up through the whole block, each row relaxed towards the row below with
// that row's coefficient.
QUENDEL_ALWAYS_INLINE void sweepColumnsUpBody(const ColumnBlock& block, unsigned height,
                                              const float* coefficientPlane, float constant) {
    auto at = [&](auto* base, unsigned y) {
        return base + std::size_t{y} * block.width + block.x0;
    };
    for (unsigned y = height - 1; y > 0; --y) {
        for (unsigned p = 0; p < block.planeCount; ++p) {
            float* plane = block.planes[p];
            if (coefficientPlane == nullptr) {
                relaxTowards(at(plane, y - 1), at(plane, y), constant, block.count);
            } else {
                relaxTowards(at(plane, y - 1), at(plane, y), at(coefficientPlane, y), block.count);
            }
        }
    }
}
QUENDEL_SIMD_DISPATCH(sweepColumnsUp, sweepColumnsUpBody)

// Columns per vertical block: one block per member of the team. A narrower
// block leaves the prefetchers a new page at every row, and at widths of a
// power of two its rows crowd into a few cache sets.
unsigned columnBlockWidth(unsigned width, int team) {
    const unsigned perBlock =
        (width + static_cast<unsigned>(team) - 1) / static_cast<unsigned>(team);
    return (perBlock + kColumnAlignment - 1) / kColumnAlignment * kColumnAlignment;
}

std::vector<float*> planesOf(CpuTexture& texture) {
    std::vector<float*> planes(texture.getChannelsCount());
    for (unsigned c = 0; c < planes.size(); ++c) {
        planes[c] = texture.getChannel(c);
    }
    return planes;
}

// One plane's share of a fused iteration: rows below `firstRow` are done.
// Down the rows, each relaxed towards the row above with its coefficient.
QUENDEL_ALWAYS_INLINE void relaxRowsDownBody(float* const* planes, unsigned planeCount,
                                             unsigned width, unsigned firstRow, unsigned lastRow,
                                             const float* coefficientPlane) {
    for (unsigned y = std::max(firstRow, 1u); y < lastRow; ++y) {
        const std::size_t row = std::size_t{y} * width;
        for (unsigned p = 0; p < planeCount; ++p) {
            relaxTowards(planes[p] + row, planes[p] + row - width, coefficientPlane + row, width);
        }
    }
}
QUENDEL_SIMD_DISPATCH(relaxRowsDown, relaxRowsDownBody)

// Up from the last row, each row relaxed towards the row below with that
// row's coefficient.
QUENDEL_ALWAYS_INLINE void relaxRowsUpBody(float* const* planes, unsigned planeCount,
                                           unsigned width, unsigned height,
                                           const float* coefficientPlane) {
    for (unsigned y = height - 1; y > 0; --y) {
        const std::size_t row = std::size_t{y} * width;
        for (unsigned p = 0; p < planeCount; ++p) {
            relaxTowards(planes[p] + row - width, planes[p] + row, coefficientPlane + row, width);
        }
    }
}
QUENDEL_SIMD_DISPATCH(relaxRowsUp, relaxRowsUpBody)

// out[i] = row[i] + a[i] * (neighbour[i] - row[i]): the relaxation written
// elsewhere.
QUENDEL_ALWAYS_INLINE void relaxInto(const float* __restrict row, const float* __restrict neighbour,
                                     const float* __restrict coefficients, unsigned count,
                                     float* __restrict out) {
    for (unsigned i = 0; i < count; ++i) {
        out[i] = row[i] + coefficients[i] * (neighbour[i] - row[i]);
    }
}

// The last up traversal when the rows are handed on: each final row goes to
// `leave` from a two-row buffer per plane instead of back into its plane.
QUENDEL_ALWAYS_INLINE void relaxRowsUpAndHandOnBody(float* const* planes, unsigned firstPlane,
                                                    unsigned planeCount, unsigned width,
                                                    unsigned height, const float* coefficientPlane,
                                                    const RowStages& stages, float* rows) {
    std::vector<const float*> below(planeCount);
    for (unsigned p = 0; p < planeCount; ++p) {
        below[p] = planes[p] + std::size_t{height - 1} * width;
        stages.leave(firstPlane + p, height - 1, below[p]);
    }
    for (unsigned y = height - 1; y > 0; --y) {
        const std::size_t row = std::size_t{y} * width;
        for (unsigned p = 0; p < planeCount; ++p) {
            float* out = rows + (std::size_t{p} * 2 + (y - 1) % 2) * width;
            relaxInto(planes[p] + row - width, below[p], coefficientPlane + row, width, out);
            stages.leave(firstPlane + p, y - 1, out);
            below[p] = out;
        }
    }
}
QUENDEL_SIMD_DISPATCH(relaxRowsUpAndHandOn, relaxRowsUpAndHandOnBody)

// Every iteration on a few planes (from `firstPlane` of the texture), on the
// calling thread, in two traversals of the image per iteration instead of
// three: rows are swept along in batches and, while a batch is in the cache,
// relaxed down the columns; then one traversal relaxes them back up.
void sweepIterationsOnPlanes(const std::vector<float*>& planes, unsigned firstPlane, unsigned width,
                             unsigned height, const std::vector<IterationCoefficients>& iterations,
                             const RowStages& stages) {
    const unsigned planeCount = static_cast<unsigned>(planes.size());
    // Enough groups of eight rows for a full set of interleaved chains.
    const unsigned groups = std::max(1u, kMaxChains / planeCount);
    const unsigned batchRows = groups * kGroupRows;
    auto enter = [&](unsigned first, unsigned last) {
        if (stages.enter) {
            for (unsigned p = 0; p < planeCount; ++p) {
                stages.enter(firstPlane + p, first, last);
            }
        }
    };
    if (iterations.empty()) {
        enter(0, height);
    }
    for (std::size_t i = 0; i < iterations.size(); ++i) {
        const IterationCoefficients& iteration = iterations[i];
        const PassCoefficients alongRows{nullptr, nullptr, 0.0f, iteration.alongRows};
        const PowerBase unused{};
        for (unsigned first = 0; first < height; first += batchRows) {
            const unsigned last = std::min(height, first + batchRows);
            if (i == 0) {
                enter(first, last);
            }
            sweepRowBatch(planes, width, first, last, alongRows, unused);
            relaxRowsDown(planes.data(), planeCount, width, first, last, iteration.downColumns);
        }
        if (i + 1 < iterations.size() || !stages.leave) {
            relaxRowsUp(planes.data(), planeCount, width, height, iteration.downColumns);
        } else {
            std::vector<float> rows(std::size_t{planeCount} * 2 * width);
            relaxRowsUpAndHandOn(planes.data(), firstPlane, planeCount, width, height,
                                 iteration.downColumns, stages, rows.data());
            return;
        }
    }
    if (stages.leave) {
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned p = 0; p < planeCount; ++p) {
                stages.leave(firstPlane + p, y, planes[p] + std::size_t{y} * width);
            }
        }
    }
}

// Rows handed in before and out after passes that do not fuse.
void enterAllRows(const RowStages& stages, unsigned planeCount, unsigned height, int team) {
    if (!stages.enter) {
        return;
    }
    const unsigned chunks = (height + kRowsPerBatch - 1) / kRowsPerBatch;
#pragma omp parallel for num_threads(team) schedule(dynamic)
    for (unsigned chunk = 0; chunk < chunks; ++chunk) {
        const unsigned first = chunk * kRowsPerBatch;
        for (unsigned p = 0; p < planeCount; ++p) {
            stages.enter(p, first, std::min(height, first + kRowsPerBatch));
        }
    }
}

void leaveAllRows(const RowStages& stages, const std::vector<float*>& planes, unsigned width,
                  unsigned height, int team) {
    if (!stages.leave) {
        return;
    }
#pragma omp parallel for num_threads(team) schedule(dynamic, kRowsPerBatch)
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned p = 0; p < planes.size(); ++p) {
            stages.leave(p, y, planes[p] + std::size_t{y} * width);
        }
    }
}

}  // namespace

void sweepPreparedIterations(CpuTexture& texture,
                             const std::vector<IterationCoefficients>& iterations,
                             const RowStages& stages, int team) {
    const unsigned width = texture.getWidth();
    const unsigned height = texture.getHeight();
    const std::vector<float*> planes = planesOf(texture);
    if (width == 0 || height == 0 || planes.empty()) {
        return;
    }
    // The fused traversals run down the whole image, so the team shares the
    // planes out; where that leaves members idle, pass after pass shares the
    // rows and columns instead.
    const unsigned planeCount = static_cast<unsigned>(planes.size());
    const unsigned members = static_cast<unsigned>(std::max(team, 1));
    const unsigned perMember = (planeCount + members - 1) / members;
    if (4 * perMember * members > 5 * planeCount) {
        enterAllRows(stages, planeCount, height, team);
        for (const IterationCoefficients& iteration : iterations) {
            horizontalRecursivePass(texture, {nullptr, nullptr, 0.0f, iteration.alongRows}, team);
            verticalRecursivePass(texture,
                                  {const_cast<float*>(iteration.downColumns), nullptr, 0.0f}, team);
        }
        leaveAllRows(stages, planes, width, height, team);
        return;
    }
#pragma omp parallel for num_threads(team) schedule(static)
    for (unsigned member = 0; member < members; ++member) {
        const unsigned first = member * planeCount / members;
        const unsigned last = (member + 1) * planeCount / members;
        if (first < last) {
            const std::vector<float*> share(planes.begin() + first, planes.begin() + last);
            sweepIterationsOnPlanes(share, first, width, height, iterations, stages);
        }
    }
}

std::size_t RowGroupCoefficients::size(unsigned width, unsigned height) {
    return std::size_t{(height + kGroupRows - 1) / kGroupRows} * width * kGroupRows;
}

void RowGroupCoefficients::arrange(const float* plane, unsigned width, unsigned height,
                                   unsigned firstRow, unsigned lastRow, float* out) {
    for (unsigned y = firstRow; y < lastRow; y += kGroupRows) {
        const float* rows[kGroupRows];
        for (unsigned r = 0; r < kGroupRows; ++r) {
            rows[r] = plane + std::size_t{std::min(y + r, height - 1)} * width;
        }
        Octet* target =
            reinterpret_cast<Octet*>(out) + std::size_t{(y - firstRow) / kGroupRows} * width;
        transposeCoefficients(rows, width, target);
    }
}

void horizontalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients, int team) {
    const unsigned width = texture.getWidth();
    const unsigned height = texture.getHeight();
    if (width == 0 || height == 0) {
        return;
    }
    const std::vector<float*> planes = planesOf(texture);
    const PowerBase base = preparePowerBase(coefficients.base);
    const unsigned batches = (height + kRowsPerBatch - 1) / kRowsPerBatch;
    // Batches go to whichever thread is free: on a busy machine a thread that
    // loses its core does not hold the others up.
#pragma omp parallel for num_threads(team) schedule(dynamic)
    for (unsigned batch = 0; batch < batches; ++batch) {
        const unsigned first = batch * kRowsPerBatch;
        sweepRowBatch(planes, width, first, std::min(height, first + kRowsPerBatch), coefficients,
                      base);
    }
}

void verticalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients, int team) {
    const unsigned width = texture.getWidth();
    const unsigned height = texture.getHeight();
    if (width == 0 || height == 0) {
        return;
    }
    const std::vector<float*> planes = planesOf(texture);
    if (planes.empty()) {
        return;
    }
    const bool fromDistances = coefficients.plane != nullptr && coefficients.distances != nullptr;
    const PowerBase base = preparePowerBase(coefficients.base);
    const unsigned planeCount = static_cast<unsigned>(planes.size());
    const unsigned blockWidth = columnBlockWidth(width, team);
    const unsigned blocks = (width + blockWidth - 1) / blockWidth;
#pragma omp parallel for num_threads(team) schedule(dynamic)
    for (unsigned index = 0; index < blocks; ++index) {
        const unsigned x0 = index * blockWidth;
        const unsigned count = std::min(width - x0, blockWidth);
        // The powers of a row are made as the sweep down reaches it, while
        // it is in the cache; the sweep up reads them from the plane.
        const std::function<void(unsigned)> powersOfRow = [&](unsigned y) {
            const std::size_t offset = std::size_t{y} * width + x0;
            fillCoefficientPowers(coefficients.plane + offset, coefficients.distances + offset,
                                  count, base);
        };
        if (fromDistances) {
            powersOfRow(0);
        }
        const ColumnBlock block{
            planes.data(), planeCount, width, x0, count, fromDistances ? &powersOfRow : nullptr};
        sweepColumnsDown(block, height, coefficients.plane, coefficients.base);
        sweepColumnsUp(block, height, coefficients.plane, coefficients.base);
    }
}

}  // namespace quendel
