#pragma once

#include <memory>

#include "quendel/backends.h"
#include "quendel/source_vector.h"
#include "quendel/texture.h"

namespace quendel {

/// The high-dimensional edge-aware filter on the host. It filters a source
/// vector's `base` under its guide (`features`) with a complete binary tree
/// of manifolds: each node weights every pixel by its closeness to the
/// node's manifold, smooths the weighted image along the guide and adds the
/// result into two sums; each inner node then splits its cluster by the main
/// direction of the guide's distance to the manifold and makes a manifold
/// for each half. The output is the quotient of the two sums.
///
/// Results are bit-identical whatever the team size (threads.h). They
/// depend on the state of the C library's rand(), which every inner node
/// draws from and which the filter never seeds. Each call starts from empty
/// sums, so equal inputs and an equal rand() state give equal results.
/// Scratch memory is kept between calls while the image size stays the
/// same. Not safe for concurrent calls.
template <>
class AdaptiveManifoldFilter<CpuFiltering> {
  public:
    AdaptiveManifoldFilter();
    ~AdaptiveManifoldFilter();
    AdaptiveManifoldFilter(AdaptiveManifoldFilter&&) noexcept;
    AdaptiveManifoldFilter& operator=(AdaptiveManifoldFilter&&) noexcept;
    AdaptiveManifoldFilter(const AdaptiveManifoldFilter&) = delete;
    AdaptiveManifoldFilter& operator=(const AdaptiveManifoldFilter&) = delete;

    /// Filters `source.base` with `source.sigmaS` and `source.sigmaR` and a
    /// tree of 2^(maxDepth + 2) - 1 nodes (one node when `maxDepth` is
    /// negative), building the source's guide first when it is not built.
    /// The result goes into `*output`, which must already have the pixel
    /// count and channel count of the base image; another output is left
    /// untouched, as it is when the guide's width or height differ from the
    /// base image's. Returns false, doing nothing at all, when `output` is
    /// null; true otherwise. Pixels that no node weighs get NaN or infinity.
    /// A NaN or an infinity in the base image or the guide makes the whole
    /// output non-finite: replace such values first.
    bool process(CpuTexture* output, SourceVector<CpuFiltering>& source, int maxDepth);

  private:
    struct Workspace;
    std::unique_ptr<Workspace> workspace;
};

}  // namespace quendel
