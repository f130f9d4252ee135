#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quendel/plane_allocator.h"

namespace quendel {

/// One pixel of a cluster.
struct PixelCoord {
    std::int32_t x;
    std::int32_t y;
};

/// The pixels of a cluster, in the order the tree visits them. As large as
/// a plane at the root, so held the way planes are.
using PixelList = std::vector<PixelCoord, PlaneAllocator<PixelCoord>>;

/// One value per pixel of the image.
using PixelValues = std::vector<float, PlaneAllocator<float>>;

/// Distance of every pixel of the image to the current manifold (guide minus
/// manifold): component j of pixel p at planes[j][p].
struct Residuals {
    std::vector<const float*> planes;
    std::size_t pixels = 0;

    unsigned components() const { return static_cast<unsigned>(planes.size()); }
};

/// The two halves of a split cluster, each in the order of the parent list.
struct ClusterHalves {
    PixelList first;   ///< pixels on the negative side of the main direction
    PixelList second;  ///< the others, not-a-number projections included
};

/// Every pixel of a width x height image, row after row.
PixelList rootPixelList(unsigned width, unsigned height);

/// The first guess of a main direction: one value per component drawn from
/// the C library's rand(), in component order, never seeded here.
std::vector<float> startDirection(unsigned components);

/// Four rounds of power iteration over the residuals of all pixels, each
/// round ending with a normalisation that a zero vector skips.
void refineDirection(const Residuals& residuals, std::vector<float>& direction);

/// Projection of every pixel's residual on `direction`, summed in component
/// order.
void projectResiduals(const Residuals& residuals, const std::vector<float>& direction,
                      PixelValues& projections);

/// Residuals held as a matrix of one row per pixel (component j of pixel p at
/// p * components + j), copied into planes kept in `storage`.
Residuals deinterleaveResiduals(const float* values, std::size_t pixels, unsigned components,
                                std::vector<float>& storage);

/// Splits `cluster` by the sign of each pixel's projection.
ClusterHalves splitCluster(const PixelList& cluster, const PixelValues& projections,
                           unsigned width);

/// Start direction, refinement and split of one cluster: the decision every
/// inner node of the tree makes. Draws `components` values from rand().
ClusterHalves splitByMainDirection(const PixelList& cluster, const Residuals& residuals,
                                   unsigned width);

/// Walks the complete tree of manifolds, depth first, first child first.
/// Nodes at depths 0 ... maxDepth split; those below are leaves, so the tree
/// has 2^(maxDepth + 2) - 1 nodes, or one when maxDepth is negative. Empty
/// clusters are still visited. The back end supplies the per-node work:
///
///   bool filterNode(int depth)
///       weights of the current manifold, splat, smoothing and gather; keeps
///       the node's weights for its children (one slot per depth).
///   Residuals residuals()
///       guide minus the current manifold, valid until the next call.
///   bool makeChildManifold(const PixelList& cluster, int parentDepth)
///       replaces the current manifold by the manifold of `cluster`, made
///       with the weights the node at `parentDepth` kept.
///
/// A false result stops the walk and is returned.
template <typename NodeSteps>
bool walkManifoldTree(NodeSteps& steps, const PixelList& cluster, int depth, int maxDepth,
                      unsigned width) {
    if (!steps.filterNode(depth)) {
        return false;
    }
    if (depth > maxDepth) {
        return true;
    }
    ClusterHalves halves = splitByMainDirection(cluster, steps.residuals(), width);
    if (!steps.makeChildManifold(halves.first, depth) ||
        !walkManifoldTree(steps, halves.first, depth + 1, maxDepth, width)) {
        return false;
    }
    halves.first = PixelList();  // its subtree is done; free it before the second one
    if (!steps.makeChildManifold(halves.second, depth)) {
        return false;
    }
    return walkManifoldTree(steps, halves.second, depth + 1, maxDepth, width);
}

}  // namespace quendel
