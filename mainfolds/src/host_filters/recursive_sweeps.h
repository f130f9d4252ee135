#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "foundations/team_for_work.h"
#include "quendel/texture.h"

namespace quendel {

/// Where a recursive pass takes its feedback coefficient from: the constant
/// `base` when `plane` is null; otherwise the per-pixel `plane` (of the
/// texture's size) or, when `distances` is set, base^distances. With
/// distances, a pass down the columns fills `plane` with them as it goes;
/// a pass along the rows keeps them to itself and leaves `plane` alone.
struct PassCoefficients {
    float* plane = nullptr;
    const float* distances = nullptr;
    float base = 0.0f;
    /// For passes along the rows only: the per-pixel coefficients already in
    /// the sweep's layout (see RowGroupCoefficients); `plane` is then unused.
    const float* rowGroups = nullptr;
};

/// Per-pixel coefficients of passes along the rows laid out as the sweep
/// reads them: the rows in groups of eight, and within a group, column after
/// column, the eight rows' values side by side (a group short of eight rows
/// repeats its last row). Group g starts at g * width * 8.
class RowGroupCoefficients {
  public:
    static std::size_t size(unsigned width, unsigned height);
    /// Rows [firstRow, lastRow) of `plane` (width x height), firstRow a
    /// multiple of eight, arranged into `out` (32-byte aligned), their groups
    /// one after another from its start.
    static void arrange(const float* plane, unsigned width, unsigned height, unsigned firstRow,
                        unsigned lastRow, float* out);
};

/// Two-way recursive sweeps along every row of every channel of `texture`:
/// left to right with the coefficient of the pixel itself, then right to left
/// with that of its right neighbour. Rows run across a team of `team` threads.
void horizontalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients,
                             int team = workerCount());

/// The same down and then up every column, with the coefficient of the pixel
/// itself and then of its lower neighbour. Blocks of columns of each channel
/// run across a team of `team` threads.
void verticalRecursivePass(CpuTexture& texture, const PassCoefficients& coefficients,
                           int team = workerCount());

/// The per-pixel coefficient planes of one TDR iteration, made beforehand.
struct IterationCoefficients {
    const float* alongRows;    ///< towards the left neighbour, as RowGroupCoefficients
    const float* downColumns;  ///< towards the pixel above
};

/// Work on the rows of each plane on their way into the first iteration and
/// out of the last, while they are in the cache; either may be empty. Both
/// are called from the team's threads, each plane's rows from one thread at
/// a time.
struct RowStages {
    /// Fills rows [first, last) of plane `plane` before any sweep reads them.
    std::function<void(unsigned plane, unsigned first, unsigned last)> enter;
    /// Takes the final values of row `y` of plane `plane`. Once this is set,
    /// the planes themselves are left holding intermediate values.
    std::function<void(unsigned plane, unsigned y, const float* row)> leave;
};

/// Every iteration in turn, each a horizontalRecursivePass then a
/// verticalRecursivePass with its planes, bit for bit; the passes of an
/// iteration are fused where the team can share the planes out.
void sweepPreparedIterations(CpuTexture& texture,
                             const std::vector<IterationCoefficients>& iterations,
                             const RowStages& stages = {}, int team = workerCount());

}  // namespace quendel
