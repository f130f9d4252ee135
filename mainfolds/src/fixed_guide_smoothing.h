#pragma once

#include <vector>

#include "quendel/texture.h"
#include "recursive_sweeps.h"

namespace quendel {

/// The TDR filter's smoothing for many images under one guide and one pair
/// of sigmas: the distances and the coefficient planes of every iteration
/// and direction are worked out once by `prepare`, and every `smooth` call
/// then only sweeps. Each call gives the bits that
/// TDRFilter<CpuFiltering>::process gives with the same guide and sigmas.
/// Costs eight planes of the guide's size.
class FixedGuideSmoothing {
  public:
    void prepare(const CpuTexture& guide, float sigmaS, float sigmaR);

    /// Smooths every channel of `image` in place; false, changing nothing,
    /// when its width or height is not the prepared guide's. `stages` may
    /// fill the rows as they enter and take them as they leave (then the
    /// image keeps intermediate values).
    bool smooth(CpuTexture& image, const RowStages& stages = {});

  private:
    struct Iteration {
        CpuTexture horizontal;  // coefficient of every pixel towards its left neighbour
        CpuTexture vertical;    // ... towards the pixel above
    };
    float sigmaS = 0.0f;
    unsigned width = 0;
    unsigned height = 0;
    std::vector<Iteration> iterations;
    CpuTexture distances;  // horizontal then vertical distances, scratch of `prepare`
};

}  // namespace quendel
