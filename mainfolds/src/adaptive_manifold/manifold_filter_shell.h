#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "adaptive_manifold/manifold_tree.h"
#include "foundations/texture_sizes.h"
#include "quendel/backends.h"
#include "quendel/source_vector.h"

// The outer shell that both back ends of AdaptiveManifoldFilter share: the
// filter's lifetime, the checks and the guard of `process`, and what every
// call works on. A back end's Workspace derives from ManifoldFilterState
// with its own texture type and adds the rest:
//
//   bool bind(SourceVector<CpuFiltering>& source, int depthLimit)
//       only where it takes more than ManifoldFilterState::bind does;
//   bool run(Output& output)
//       everything after the checks: scratch, root manifold, tree, division;
//   and the node steps of walkManifoldTree (manifold_tree.h).

namespace quendel {

/// The parameters and images of one call, and the scratch kept for the next
/// call while the image size stays the same. `Texture` is the back end's
/// texture (CpuTexture or GpuTexture).
template <typename Texture>
struct ManifoldFilterState {
    int maxDepth = 0;
    float sigmaS = 0.0f;
    float sigmaR = 0.0f;
    float rangeSigma = 0.0f;  // g = sigmaR / sqrt(2), the range deviation of each node
    Texture base;
    Texture features;

    // The splat planes (base times the node's weights) followed by one copy
    // of the weights: every channel's weights are the same plane, so one
    // smoothing serves them all, in the same pass as the splat.
    Texture smoothed;
    std::vector<Texture> nodeWeights;  // one plane per depth, kept for the children
    Texture numeratorSum;
    Texture denominatorSum;  // one plane: it is the same for every channel

    /// Takes the source's image, guide and sigmas; false when the guide's
    /// width or height differ from the base image's.
    bool bind(SourceVector<CpuFiltering>& source, int depthLimit) {
        maxDepth = depthLimit;
        sigmaS = source.sigmaS;
        sigmaR = source.sigmaR;
        rangeSigma = sigmaR / std::sqrt(2.0f);
        base = Texture(source.base);
        features = Texture(source.features);
        return features.getWidth() == base.getWidth() && features.getHeight() == base.getHeight();
    }

    /// Sizes the splat planes, the sums and one weights plane per depth for
    /// the bound image (keeping them while the size stays) and empties the
    /// sums with the back end's `fillZero`.
    template <typename FillZero>
    void prepareSums(FillZero fillZero) {
        const unsigned width = base.getWidth();
        const unsigned height = base.getHeight();
        const unsigned channels = base.getChannelsCount();
        ensureTextureSize(smoothed, width, height, channels + 1);
        ensureTextureSize(numeratorSum, width, height, channels);
        ensureTextureSize(denominatorSum, width, height, 1);
        fillZero(numeratorSum);
        fillZero(denominatorSum);
        const std::size_t slots = static_cast<std::size_t>(std::max(maxDepth, -1)) + 2;
        nodeWeights.resize(slots);
        for (Texture& weights : nodeWeights) {
            ensureTextureSize(weights, width, height, 1);
        }
    }
};

/// Walks the whole tree from the root cluster, every pixel of the bound
/// image (walkManifoldTree).
template <typename Workspace>
bool walkWholeTree(Workspace& workspace) {
    const unsigned width = workspace.base.getWidth();
    return walkManifoldTree(workspace, rootPixelList(width, workspace.base.getHeight()), 0,
                            workspace.maxDepth, width);
}

/// AdaptiveManifoldFilter<Backend>::process on both back ends: false, doing
/// nothing at all, without an output; otherwise the workspace (made again
/// after the filter was moved from), the source's guide built, and true,
/// writing nothing, when the guide's width or height differ from the base
/// image's. Only then does the back end run.
template <typename Workspace, typename Output>
bool processInWorkspace(std::unique_ptr<Workspace>& workspace, Output* output,
                        SourceVector<CpuFiltering>& source, int maxDepth) {
    if (output == nullptr) {
        return false;
    }
    if (!workspace) {
        workspace = std::make_unique<Workspace>();
    }
    source.build();
    Workspace& w = *workspace;
    if (!w.bind(source, maxDepth)) {
        return true;
    }
    return w.run(*output);
}

}  // namespace quendel

/// The special members of AdaptiveManifoldFilter<Backend>, the same on both
/// back ends: a filter is made with its workspace and hands it on when
/// moved; a moved-from filter gets a new one from its next `process`. For
/// the back end's source file, where its Workspace is complete.
#define QUENDEL_MANIFOLD_FILTER_LIFETIME(Backend)                                                \
    AdaptiveManifoldFilter<Backend>::AdaptiveManifoldFilter()                                    \
        : workspace(std::make_unique<Workspace>()) {}                                            \
    AdaptiveManifoldFilter<Backend>::~AdaptiveManifoldFilter() = default;                        \
    AdaptiveManifoldFilter<Backend>::AdaptiveManifoldFilter(AdaptiveManifoldFilter&&) noexcept = \
        default;                                                                                 \
    AdaptiveManifoldFilter<Backend>& AdaptiveManifoldFilter<Backend>::operator=(                 \
        AdaptiveManifoldFilter&&) noexcept = default;
