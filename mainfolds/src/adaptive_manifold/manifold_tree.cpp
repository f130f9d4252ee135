#include "adaptive_manifold/manifold_tree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "foundations/simd_dispatch.h"
#include "foundations/team_for_work.h"

namespace quendel {

namespace {

constexpr int kPowerIterationRounds = 4;

// Components summed together in one sweep over the pixels: enough
// independent chains to hide the adder's latency, few enough for registers.
// Chunks run side by side on the team.
constexpr unsigned kComponentChunk = 8;

// Parts of a cluster list split side by side.
constexpr std::size_t kSplitParts = 64;

// chains[k] += t_p * r_p[first + k] for the pixels of one block, in pixel
// order. Each component is its own chain, so over all blocks the order of
// additions is the plain pixel order.
template <unsigned Width>
void accumulateChunk(const float* const* planes, const float* projections, std::size_t begin,
                     std::size_t count, float* chains) {
    float chain[Width];
    const float* rows[Width];
    for (unsigned k = 0; k < Width; ++k) {
        chain[k] = chains[k];
        rows[k] = planes[k] + begin;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const float t = projections[i];
        for (unsigned k = 0; k < Width; ++k) {
            chain[k] = chain[k] + t * rows[k][i];
        }
    }
    std::copy(chain, chain + Width, chains);
}

using ChunkAccumulator = void (*)(const float* const*, const float*, std::size_t, std::size_t,
                                  float*);

template <unsigned... Widths>
constexpr std::array<ChunkAccumulator, sizeof...(Widths)> accumulators(
    std::integer_sequence<unsigned, Widths...>) {
    return {&accumulateChunk<Widths + 1>...};
}

// One accumulator per chunk width, so that every chunk, the last included,
// keeps its chains in registers.
constexpr std::array<ChunkAccumulator, kComponentChunk> kAccumulators =
    accumulators(std::make_integer_sequence<unsigned, kComponentChunk>());

// A whole round for at most one chunk of components, in one sweep: each
// pixel's projection is made just before it enters the sums, off the sums'
// chain of additions, so it costs next to nothing while the chain waits.
template <unsigned Width>
void projectAndAccumulate(const float* const* planes, const float* direction, std::size_t pixels,
                          float* sums) {
    float chain[Width];
    float v[Width];
    const float* rows[Width];
    for (unsigned k = 0; k < Width; ++k) {
        chain[k] = sums[k];
        v[k] = direction[k];
        rows[k] = planes[k];
    }
    for (std::size_t i = 0; i < pixels; ++i) {
        float t = 0.0f;
        for (unsigned k = 0; k < Width; ++k) {
            t = t + rows[k][i] * v[k];
        }
        for (unsigned k = 0; k < Width; ++k) {
            chain[k] = chain[k] + t * rows[k][i];
        }
    }
    std::copy(chain, chain + Width, sums);
}

using SmallRound = void (*)(const float* const*, const float*, std::size_t, float*);

template <unsigned... Widths>
constexpr std::array<SmallRound, sizeof...(Widths)> smallRounds(
    std::integer_sequence<unsigned, Widths...>) {
    return {&projectAndAccumulate<Widths + 1>...};
}

constexpr std::array<SmallRound, kComponentChunk> kSmallRounds =
    smallRounds(std::make_integer_sequence<unsigned, kComponentChunk>());

// Pixels projected together: their dot products advance one component at a
// time side by side, each still summed in component order.
constexpr std::ptrdiff_t kProjectionBlock = 1024;

// Pixels whose projections stay in registers while every component is
// added: the block is not read and written back once per component.
constexpr std::size_t kRegisterTile = 64;

QUENDEL_ALWAYS_INLINE void projectTile(const float* const* planes, unsigned components,
                                       const float* direction, std::size_t first,
                                       std::size_t length, float* projections) {
    float sums[kRegisterTile];
    for (std::size_t k = 0; k < length; ++k) {
        sums[k] = 0.0f;
    }
    for (unsigned i = 0; i < components; ++i) {
        const float v = direction[i];
        const float* r = planes[i] + first;
        for (std::size_t k = 0; k < length; ++k) {
            sums[k] = sums[k] + r[k] * v;
        }
    }
    std::copy(sums, sums + length, projections);
}

QUENDEL_ALWAYS_INLINE void projectBlockBody(const float* const* planes, unsigned components,
                                            const float* direction, std::size_t begin,
                                            std::size_t count, float* projections) {
    std::size_t k = 0;
    for (; k + kRegisterTile <= count; k += kRegisterTile) {
        projectTile(planes, components, direction, begin + k, kRegisterTile, projections + k);
    }
    if (k < count) {
        projectTile(planes, components, direction, begin + k, count - k, projections + k);
    }
}
QUENDEL_SIMD_DISPATCH(projectBlock, projectBlockBody)

void normalise(std::vector<float>& direction) {
    float squares = 0.0f;
    for (float value : direction) {
        squares = squares + value * value;
    }
    const float norm = std::sqrt(squares);
    if (norm != 0.0f) {
        for (float& value : direction) {
            value = value / norm;
        }
    }
}

}  // namespace

PixelList rootPixelList(unsigned width, unsigned height) {
    PixelList list(static_cast<std::size_t>(width) * height);
    const std::int32_t w = static_cast<std::int32_t>(width);
    const std::int32_t h = static_cast<std::int32_t>(height);
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (std::int32_t y = 0; y < h; ++y) {
        PixelCoord* row = list.data() + static_cast<std::size_t>(y) * width;
        for (std::int32_t x = 0; x < w; ++x) {
            row[x] = PixelCoord{x, y};
        }
    }
    return list;
}

std::vector<float> startDirection(unsigned components) {
    std::vector<float> direction(components);
    for (float& value : direction) {
        value = static_cast<float>(std::rand() % 1000000) / 100000.0f;
    }
    return direction;
}

void projectResiduals(const Residuals& residuals, const std::vector<float>& direction,
                      PixelValues& projections) {
    projections.resize(residuals.pixels);
    const std::ptrdiff_t pixels = static_cast<std::ptrdiff_t>(residuals.pixels);
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (std::ptrdiff_t begin = 0; begin < pixels; begin += kProjectionBlock) {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::ptrdiff_t>(kProjectionBlock, pixels - begin));
        projectBlock(residuals.planes.data(), residuals.components(), direction.data(),
                     static_cast<std::size_t>(begin), count, projections.data() + begin);
    }
}

Residuals deinterleaveResiduals(const float* values, std::size_t pixels, unsigned components,
                                std::vector<float>& storage) {
    storage.resize(pixels * components);
    Residuals residuals;
    residuals.pixels = pixels;
    for (unsigned j = 0; j < components; ++j) {
        float* plane = storage.data() + j * pixels;
        for (std::size_t p = 0; p < pixels; ++p) {
            plane[p] = values[p * components + j];
        }
        residuals.planes.push_back(plane);
    }
    return residuals;
}

namespace {

// One round of power iteration, v_j = sum over pixels of t_p * r_p[j] with
// t_p = r_p . v, in one sweep over the residuals: each block of pixels is
// projected and then summed while it is still in the cache. Groups of
// component chunks run side by side, each projecting the blocks itself.
void powerIterationRound(const Residuals& residuals, std::vector<float>& direction) {
    const unsigned components = residuals.components();
    if (components > 0 && components <= kComponentChunk) {
        std::vector<float> next(components, 0.0f);
        kSmallRounds[components - 1](residuals.planes.data(), direction.data(), residuals.pixels,
                                     next.data());
        direction = std::move(next);
        return;
    }
    const int chunks = static_cast<int>((components + kComponentChunk - 1) / kComponentChunk);
    const int groups = std::max(1, std::min(workerCount(), chunks));
    std::vector<float> next(components, 0.0f);
#pragma omp parallel for num_threads(groups) schedule(static)
    for (int group = 0; group < groups; ++group) {
        const int firstChunk = group * chunks / groups;
        const int lastChunk = (group + 1) * chunks / groups;
        std::vector<float> projections(kProjectionBlock);
        for (std::size_t begin = 0; begin < residuals.pixels; begin += kProjectionBlock) {
            const std::size_t count =
                std::min<std::size_t>(kProjectionBlock, residuals.pixels - begin);
            projectBlock(residuals.planes.data(), components, direction.data(), begin, count,
                         projections.data());
            for (int chunk = firstChunk; chunk < lastChunk; ++chunk) {
                const unsigned first = static_cast<unsigned>(chunk) * kComponentChunk;
                const unsigned width = std::min(kComponentChunk, components - first);
                kAccumulators[width - 1](residuals.planes.data() + first, projections.data(), begin,
                                         count, next.data() + first);
            }
        }
    }
    direction = std::move(next);
}

}  // namespace

void refineDirection(const Residuals& residuals, std::vector<float>& direction) {
    for (int round = 0; round < kPowerIterationRounds; ++round) {
        powerIterationRound(residuals, direction);
        normalise(direction);
    }
}

ClusterHalves splitCluster(const PixelList& cluster, const PixelValues& projections,
                           unsigned width) {
    // 1 on the negative side; not a number is not negative.
    auto side = [&](const PixelCoord& pixel) -> std::size_t {
        return projections[static_cast<std::size_t>(pixel.y) * width + pixel.x] < 0.0f;
    };
    // Parts of the list are split on their own and laid end to end, so both
    // halves keep the list order whatever the team.
    const std::ptrdiff_t parts = kSplitParts;
    const std::size_t partSize = (cluster.size() + kSplitParts - 1) / kSplitParts;
    std::vector<std::size_t> firstBefore(kSplitParts + 1, 0);
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (std::ptrdiff_t part = 0; part < parts; ++part) {
        const std::size_t begin = std::min(cluster.size(), part * partSize);
        const std::size_t end = std::min(cluster.size(), begin + partSize);
        std::size_t count = 0;
        for (std::size_t i = begin; i < end; ++i) {
            count += side(cluster[i]);
        }
        firstBefore[part + 1] = count;
    }
    for (std::size_t part = 0; part < kSplitParts; ++part) {
        firstBefore[part + 1] += firstBefore[part];
    }
    ClusterHalves halves;
    halves.first.resize(firstBefore[kSplitParts]);
    halves.second.resize(cluster.size() - firstBefore[kSplitParts]);
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (std::ptrdiff_t part = 0; part < parts; ++part) {
        const std::size_t begin = std::min(cluster.size(), part * partSize);
        const std::size_t end = std::min(cluster.size(), begin + partSize);
        // Both halves written through one table: the sides are
        // unpredictable, so no branch decides.
        PixelCoord* next[2] = {halves.second.data() + (begin - firstBefore[part]),
                               halves.first.data() + firstBefore[part]};
        for (std::size_t i = begin; i < end; ++i) {
            const std::size_t s = side(cluster[i]);
            *next[s] = cluster[i];
            ++next[s];
        }
    }
    return halves;
}

ClusterHalves splitByMainDirection(const PixelList& cluster, const Residuals& residuals,
                                   unsigned width) {
    std::vector<float> direction = startDirection(residuals.components());
    refineDirection(residuals, direction);
    PixelValues projections;
    projectResiduals(residuals, direction, projections);
    return splitCluster(cluster, projections, width);
}

}  // namespace quendel
