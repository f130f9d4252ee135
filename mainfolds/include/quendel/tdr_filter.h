#pragma once

#include "quendel/backends.h"
#include "quendel/texture.h"

namespace quendel {

/// Edge-aware smoothing on the host: the recursive form of the domain
/// transform. Every channel of an image is smoothed in place over a spatial
/// reach sigmaS, while differences in a guide image of the same size (any
/// number of channels) stop the smoothing at edges, more sharply the smaller
/// sigmaR is.
///
/// Results do not depend on the size of the thread team. The filter keeps
/// its scratch planes between calls and re-makes them only when the image
/// size changes. An object is not safe for concurrent calls.
template <>
class TDRFilter<CpuFiltering> {
  public:
    TDRFilter() = default;

    /// Filters every channel of `image` in place, guided by every channel of
    /// `guide`. Returns false, leaving `image` untouched, when the two differ
    /// in width or height; true otherwise. sigmaS and sigmaR should be
    /// positive and finite: other values are not rejected and give NaN or
    /// unfiltered results. Non-finite pixels are not contained: a NaN or an
    /// infinity in `image` spreads along the sweeps to every pixel of its
    /// channel, and a NaN in `guide` (two neighbouring infinities make one)
    /// to every pixel of every channel. Replace them before filtering.
    bool process(CpuTexture& image, const CpuTexture& guide, float sigmaS, float sigmaR);

    /// Scratch planes of the last call (width x height x 1 each): distances
    /// to the left neighbour (column 0 unused), to the upper neighbour (row 0
    /// unused), and the coefficients of the last pass.
    const CpuTexture& getHorizontalDistances() const { return horizontalDistances; }
    const CpuTexture& getVerticalDistances() const { return verticalDistances; }
    const CpuTexture& getCoefficients() const { return coefficients; }

  private:
    CpuTexture horizontalDistances;
    CpuTexture verticalDistances;
    CpuTexture coefficients;
};

}  // namespace quendel
