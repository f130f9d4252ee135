#pragma once

#include <functional>
#include <vector>

#include "adaptive_manifold/manifold_tree.h"
#include "quendel/texture.h"

namespace quendel {

/// Size and deviation at which a child manifold is smoothed.
struct ChildSmoothing {
    bool reduced;     ///< smoothed at a reduced size
    unsigned width;   ///< reduced width (the full width when not reduced)
    unsigned height;  ///< reduced height (the full height when not reduced)
    float sigma;      ///< deviation of the smoothing at that size
};

/// The reduction factor E of a child manifold and the size it gives:
/// E = sigmaS / 2^k with k = floor(log2(min(sigmaS / 4, 256 sigmaR))), or 1
/// when that is below 1 (or the logarithm is not finite).
ChildSmoothing childSmoothing(float sigmaS, float sigmaR, unsigned width, unsigned height);

/// Builds the manifold of a child cluster on the host: the cluster's guide
/// values weighted by one minus the parent node's weights (zero outside the
/// cluster), smoothed edge-blind, divided by the equally smoothed weights
/// with the denominator clamped at 1e-6. Work planes are kept from one call
/// to the next while the image size stays the same.
class ChildManifoldBuilder {
  public:
    /// Edge-blind smoothing of every plane of a texture in place: a
    /// horizontal then a vertical pass with the given deviation.
    using Smoother = std::function<void(CpuTexture& planes, float sigma)>;

    explicit ChildManifoldBuilder(Smoother smoother);

    /// What `build` writes: the manifold, or the guide's distance to it
    /// (features minus manifold), for a back end that needs only that, or
    /// only each pixel's squared distance, for a node whose distances are
    /// read for nothing else.
    enum class Output { Manifold, DistanceToGuide, SquaredDistancesOnly };

    /// Overwrites every plane of `target` (the size and channel count of
    /// `features`) with the manifold of `cluster`, or with the distance of
    /// the guide to it. `parentWeights` is one plane of the image's size.
    /// With DistanceToGuide and a plane `squaredDistances` of the image's
    /// size, also writes each pixel's squared distance, its channels' squares
    /// added in channel order from zero; with SquaredDistancesOnly, writes
    /// only that plane and leaves `target` alone (nothing without the plane).
    void build(const PixelList& cluster, const float* parentWeights, const CpuTexture& features,
               float sigmaS, float sigmaR, CpuTexture& target, Output output = Output::Manifold,
               float* squaredDistances = nullptr);

  private:
    void markCluster(const PixelList& cluster, unsigned width, unsigned height);
    void buildFullSize(const float* parentWeights, const CpuTexture& features, float sigma,
                       CpuTexture& target, Output output, float* squaredDistances);
    void buildReduced(const float* parentWeights, const CpuTexture& features,
                      const ChildSmoothing& smoothing, CpuTexture& target, Output output,
                      float* squaredDistances);
    void sampleMaskedPlanes(const float* parentWeights, const CpuTexture& features);
    void divideResampled(const CpuTexture& features, CpuTexture& target, Output output,
                         float* squaredDistances) const;

    Smoother smoother;
    // Guide channels times the mask, then the mask itself as the last plane
    // (the denominator is the same for every channel, so it is kept once):
    // at full size when the smoothing is not reduced, else at reduced size.
    CpuTexture planes;
    CpuTexture smallPlanes;
    std::vector<unsigned char> inCluster;
};

}  // namespace quendel
