#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "adaptive_manifold/bilinear_samples.h"

namespace quendel {

/// Horizontal step of a bilinear resampling of rows to a width at least
/// their own: out[i] = blend(row[first[i]], row[second[i]], fraction[i])
/// through axisSamples, with its bits. Eight neighbouring targets read within
/// sixteen neighbouring sources, so their sources are picked out of two
/// vector loads rather than gathered one by one; a narrower target falls
/// back to reading them one by one.
class RowEnlarger {
  public:
    RowEnlarger(unsigned sourceWidth, unsigned targetWidth);

    /// Values past the end of a source row that `enlarge` may load; it never
    /// uses them.
    static constexpr unsigned kReadPast = 16;

    /// Writes targetWidth values to `out` from `row`, which stays readable
    /// kReadPast values past its sourceWidth.
    void enlarge(const float* row, float* out) const;

    static constexpr unsigned kTileTargets = 8;
    /// Eight neighbouring targets, their sources counted from `base`.
    struct Tile {
        std::uint32_t base;
        std::int32_t first[kTileTargets];
        std::int32_t second[kTileTargets];
        float fraction[kTileTargets];
    };

  private:
    AxisSamples samples;
    std::vector<Tile> tiles;  // empty when some targets' sources lie too far apart
    std::size_t tiledTargets = 0;
};

}  // namespace quendel
