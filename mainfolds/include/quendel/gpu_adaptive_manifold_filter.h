#pragma once

#include <memory>

#include "quendel/backends.h"
#include "quendel/gpu_texture.h"
#include "quendel/source_vector.h"

namespace quendel {

/// The high-dimensional edge-aware filter with its per-pixel work on the
/// device. It builds the same tree of manifolds as the host filter and makes
/// the same host decisions (clusters, splits, child manifolds); node weights,
/// splat, gather and the final division run in device kernels, the smoothing
/// along the guide in TDRFilter<GpuFiltering> (one iteration, so results
/// differ from the host filter's) and the edge-blind smoothing of manifolds
/// in HFilter<GpuFiltering>.
///
/// Results depend on the state of the C library's rand(), which every inner
/// node draws from and which the filter never seeds. Each call starts from
/// empty sums. Host scratch is kept between calls while the image size stays
/// the same; no device memory outlives a call. Not safe for concurrent calls.
template <>
class AdaptiveManifoldFilter<GpuFiltering> {
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
    /// The result goes into the host planes of `*output`, which must already
    /// have the base image's width, height and channel count; another output
    /// is left untouched, as it is when the guide's width or height differ
    /// from the base image's.
    ///
    /// Returns false, doing nothing at all, when `output` is null, and false
    /// when a device call fails (after its report): the remaining device work
    /// is skipped and `*output` may be partly written. True otherwise.
    /// A NaN or an infinity in the base image or the guide makes the whole
    /// output non-finite, as on the host.
    bool process(GpuTexture* output, SourceVector<CpuFiltering>& source, int maxDepth);

  private:
    struct Workspace;
    std::unique_ptr<Workspace> workspace;
};

}  // namespace quendel
