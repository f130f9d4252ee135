#pragma once

#include <vector>

#include "host_filters/recursive_sweeps.h"
#include "quendel/texture.h"

namespace quendel {

/// The TDR filter's smoothing for many images under one guide and one pair
/// of sigmas: the distances and the coefficient planes of every iteration
/// and direction are worked out once by `prepare`, and every `smooth` call
/// then only sweeps. Each call gives the bits that
/// TDRFilter<CpuFiltering>::process gives with the same guide and sigmas.
/// Costs about eight planes of the guide's size.
class FixedGuideSmoothing {
  public:
    void prepare(const CpuTexture& guide, float sigmaS, float sigmaR);

    /// Smooths every channel of `image` in place; false, changing nothing,
    /// when its width or height is not the prepared guide's. `stages` may
    /// fill the rows as they enter and take them as they leave (then the
    /// image keeps intermediate values).
    bool smooth(CpuTexture& image, const RowStages& stages = {});

  private:
    void arrangeRowCoefficients(const float* horizontalDistances);

    float sigmaS = 0.0f;
    unsigned width = 0;
    unsigned height = 0;
    // Per iteration, the coefficient of every pixel towards its left
    // neighbour, already in the layout of the sweeps along the rows
    // (RowGroupCoefficients), all four in one block...
    std::vector<float, PlaneAllocator<float>> rowCoefficients;
    std::vector<const float*> alongRows;
    // ... and towards the pixel above, one plane each.
    std::vector<CpuTexture> downColumns;
    CpuTexture distances;  // horizontal then vertical distances, scratch of `prepare`
};

}  // namespace quendel
