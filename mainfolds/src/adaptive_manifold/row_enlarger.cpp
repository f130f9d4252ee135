#include "adaptive_manifold/row_enlarger.h"

#include "foundations/float_lanes.h"
#include "foundations/simd_dispatch.h"

namespace quendel {

namespace {

using Tile = RowEnlarger::Tile;
constexpr unsigned kLanes = RowEnlarger::kTileTargets;
typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));
typedef std::int32_t Picks __attribute__((vector_size(kLanes * sizeof(std::int32_t))));
// Both sources of every target of a tile within two loads from its base.
bool fillTile(const AxisSamples& samples, std::size_t firstTarget, Tile& tile) {
    tile.base = samples.first[firstTarget];
    for (unsigned lane = 0; lane < kLanes; ++lane) {
        const std::size_t target = firstTarget + lane;
        const std::uint32_t first = samples.first[target];
        const std::uint32_t second = samples.second[target];
        if (first < tile.base || second < tile.base || first - tile.base >= 2 * kLanes ||
            second - tile.base >= 2 * kLanes) {
            return false;
        }
        tile.first[lane] = static_cast<std::int32_t>(first - tile.base);
        tile.second[lane] = static_cast<std::int32_t>(second - tile.base);
        tile.fraction[lane] = samples.fraction[target];
    }
    return true;
}

// Lane i of `picked` is lane picks[i] of low and high taken as one vector. By reference, so
// that no vector crosses a call by value.
QUENDEL_ALWAYS_INLINE void pickLanes(const Lanes& low, const Lanes& high, const Picks& picks,
                                     Lanes& picked) {
#if defined(__clang__)
    // clang has no two-vector shuffle with a run-time mask.
    for (unsigned lane = 0; lane < kLanes; ++lane) {
        const std::int32_t pick = picks[lane];
        picked[lane] = pick < std::int32_t(kLanes) ? low[pick] : high[pick - std::int32_t(kLanes)];
    }
#else
    picked = __builtin_shuffle(low, high, picks);
#endif
}

QUENDEL_ALWAYS_INLINE void enlargeTilesBody(const float* row, const Tile* tiles, std::size_t count,
                                            float* out) {
    for (std::size_t t = 0; t < count; ++t) {
        const Tile& tile = tiles[t];
        const Lanes low = reinterpret_cast<const Unaligned<Lanes>*>(row + tile.base)->value;
        const Lanes high =
            reinterpret_cast<const Unaligned<Lanes>*>(row + tile.base + kLanes)->value;
        const Picks first = reinterpret_cast<const Unaligned<Picks>*>(tile.first)->value;
        const Picks second = reinterpret_cast<const Unaligned<Picks>*>(tile.second)->value;
        const Lanes fraction = reinterpret_cast<const Unaligned<Lanes>*>(tile.fraction)->value;
        Lanes a, b;
        pickLanes(low, high, first, a);
        pickLanes(low, high, second, b);
        reinterpret_cast<Unaligned<Lanes>*>(out + t * kLanes)->value = a + fraction * (b - a);
    }
}
QUENDEL_SIMD_DISPATCH(enlargeTiles, enlargeTilesBody)

}  // namespace

RowEnlarger::RowEnlarger(unsigned sourceWidth, unsigned targetWidth)
    : samples(axisSamples(sourceWidth, targetWidth)) {
    tiles.resize(targetWidth / kLanes);
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        if (!fillTile(samples, t * kLanes, tiles[t])) {
            tiles.clear();
            break;
        }
    }
    tiledTargets = tiles.size() * kLanes;
}

void RowEnlarger::enlarge(const float* row, float* out) const {
    enlargeTiles(row, tiles.data(), tiles.size(), out);
    for (std::size_t i = tiledTargets; i < samples.first.size(); ++i) {
        out[i] = blend(row[samples.first[i]], row[samples.second[i]], samples.fraction[i]);
    }
}

}  // namespace quendel
