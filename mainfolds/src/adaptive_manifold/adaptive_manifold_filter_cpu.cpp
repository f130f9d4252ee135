#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "adaptive_manifold/child_manifold.h"
#include "adaptive_manifold/manifold_filter_shell.h"
#include "adaptive_manifold/manifold_tree.h"
#include "adaptive_manifold/squared_distances.h"
#include "foundations/exponentials.h"
#include "foundations/huge_page_planes.h"
#include "foundations/plane_pointers.h"
#include "foundations/simd_dispatch.h"
#include "foundations/team_for_work.h"
#include "foundations/texture_sizes.h"
#include "host_filters/fixed_guide_smoothing.h"
#include "host_filters/h_filter.h"
#include "quendel/adaptive_manifold_filter.h"

namespace quendel {

namespace {

// Pixels per unit of work handed to a thread; any split gives the same bits
// because every pixel is computed on its own.
constexpr std::ptrdiff_t kPixelBlock = 4096;

template <typename Body>
void forPixelBlocks(std::size_t pixels, Body body) {
    const std::ptrdiff_t blocks =
        (static_cast<std::ptrdiff_t>(pixels) + kPixelBlock - 1) / kPixelBlock;
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (std::ptrdiff_t block = 0; block < blocks; ++block) {
        const std::size_t begin = static_cast<std::size_t>(block * kPixelBlock);
        const std::size_t end = std::min(pixels, begin + static_cast<std::size_t>(kPixelBlock));
        body(begin, end);
    }
}

QUENDEL_ALWAYS_INLINE void multiplyPlaneBody(const float* values, const float* weights,
                                             std::size_t count, float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = values[i] * weights[i];
    }
}
QUENDEL_SIMD_DISPATCH(multiplyPlane, multiplyPlaneBody)

QUENDEL_ALWAYS_INLINE void addWeightedPlaneBody(const float* values, const float* weights,
                                                std::size_t count, float* sums) {
    for (std::size_t i = 0; i < count; ++i) {
        sums[i] = sums[i] + weights[i] * values[i];
    }
}
QUENDEL_SIMD_DISPATCH(addWeightedPlane, addWeightedPlaneBody)

QUENDEL_ALWAYS_INLINE void dividePlaneBody(const float* numerator, const float* denominator,
                                           std::size_t count, float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = numerator[i] / denominator[i];
    }
}
QUENDEL_SIMD_DISPATCH(dividePlane, dividePlaneBody)

QUENDEL_ALWAYS_INLINE void subtractPlaneBody(const float* from, const float* amount,
                                             std::size_t count, float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = from[i] - amount[i];
    }
}
QUENDEL_SIMD_DISPATCH(subtractPlane, subtractPlaneBody)

void copyPlanes(const CpuTexture& from, CpuTexture& to) {
    const std::vector<const float*> source = readPlanes(from);
    const std::vector<float*> target = writePlanes(to);
    forPixelBlocks(from.getPixelsCount(), [&](std::size_t begin, std::size_t end) {
        for (unsigned c = 0; c < source.size(); ++c) {
            std::copy(source[c] + begin, source[c] + end, target[c] + begin);
        }
    });
}

void fillZero(CpuTexture& texture) {
    const std::vector<float*> planes = writePlanes(texture);
    forPixelBlocks(texture.getPixelsCount(), [&](std::size_t begin, std::size_t end) {
        for (float* plane : planes) {
            std::fill(plane + begin, plane + end, 0.0f);
        }
    });
}

void smoothManifold(CpuTexture& planes, float sigma) {
    horizontalHPass(planes, sigma);
    verticalHPass(planes, sigma);
}

}  // namespace

// What one call works on, and the scratch it keeps for the next call.
struct AdaptiveManifoldFilter<CpuFiltering>::Workspace : ManifoldFilterState<CpuTexture> {
    // The current manifold enters every step only as the guide's distance
    // to it, so that distance is all that is kept: features minus manifold,
    // rounded once, as the weights and the split both read it.
    CpuTexture distance;
    // The same guide and sigmas smooth every node: its coefficients are made once per call.
    FixedGuideSmoothing guideSmoothing;
    ChildManifoldBuilder childBuilder{smoothManifold};
    // The child manifold's builder already summed the squared distances
    // into the next node's weights plane while the rows were in the cache.
    bool squaredSumsReady = false;

    bool run(CpuTexture& output);
    void prepareScratch();
    void makeRootDistance();
    bool filterNode(int depth);
    Residuals residuals();
    bool makeChildManifold(const PixelList& cluster, int parentDepth);
    void divideSumsInto(CpuTexture& output);
};

void AdaptiveManifoldFilter<CpuFiltering>::Workspace::prepareScratch() {
    ensureTextureSize(distance, base.getWidth(), base.getHeight(), features.getChannelsCount());
    prepareSums(fillZero);
    squaredSumsReady = false;
}

bool AdaptiveManifoldFilter<CpuFiltering>::Workspace::filterNode(int depth) {
    float* weights = nodeWeights[static_cast<std::size_t>(depth)].getChannel(0);
    // exp(d * s) with s = -2 g^2: the squared distance is multiplied by minus
    // the range variance, not divided by it.
    const float scale = -2.0f * rangeSigma * rangeSigma;
    const unsigned channels = base.getChannelsCount();
    const unsigned guideChannels = features.getChannelsCount();
    const std::vector<const float*> apart = readPlanes(distance);
    forPixelBlocks(base.getPixelsCount(), [&](std::size_t begin, std::size_t end) {
        const std::size_t count = end - begin;
        float* w = weights + begin;
        if (!squaredSumsReady) {
            sumSquares(apart.data(), guideChannels, begin, count, w);
        }
        exponentialsOfScaled(w, scale, count, w);
    });
    squaredSumsReady = false;

    // The splat planes are made as the smoothing first reads their rows, and
    // sliced with the unsmoothed weights of this node as it gives them back.
    const unsigned width = base.getWidth();
    const std::vector<const float*> image = readPlanes(base);
    const std::vector<float*> numerator = writePlanes(numeratorSum);
    float* denominator = denominatorSum.getChannel(0);
    const std::vector<float*> splat = writePlanes(smoothed);
    RowStages stages;
    stages.enter = [&](unsigned plane, unsigned first, unsigned last) {
        const std::size_t begin = std::size_t{first} * width;
        const std::size_t count = std::size_t{last - first} * width;
        if (plane < channels) {
            multiplyPlane(image[plane] + begin, weights + begin, count, splat[plane] + begin);
        } else {
            std::copy(weights + begin, weights + begin + count, splat[plane] + begin);
        }
    };
    stages.leave = [&](unsigned plane, unsigned y, const float* row) {
        const std::size_t begin = std::size_t{y} * width;
        float* sums = plane < channels ? numerator[plane] : denominator;
        addWeightedPlane(row, weights + begin, width, sums + begin);
    };
    guideSmoothing.smooth(smoothed, stages);
    return true;
}

// The root manifold is the low-passed guide.
void AdaptiveManifoldFilter<CpuFiltering>::Workspace::makeRootDistance() {
    copyPlanes(features, distance);
    smoothManifold(distance, sigmaS);
    const std::vector<const float*> guide = readPlanes(features);
    const std::vector<float*> apart = writePlanes(distance);
    forPixelBlocks(features.getPixelsCount(), [&](std::size_t begin, std::size_t end) {
        for (unsigned c = 0; c < guide.size(); ++c) {
            subtractPlane(guide[c] + begin, apart[c] + begin, end - begin, apart[c] + begin);
        }
    });
}

Residuals AdaptiveManifoldFilter<CpuFiltering>::Workspace::residuals() {
    Residuals result;
    result.planes = readPlanes(distance);
    result.pixels = distance.getPixelsCount();
    return result;
}

bool AdaptiveManifoldFilter<CpuFiltering>::Workspace::makeChildManifold(const PixelList& cluster,
                                                                        int parentDepth) {
    const float* weights = nodeWeights[static_cast<std::size_t>(parentDepth)].getChannel(0);
    float* childSums = nodeWeights[static_cast<std::size_t>(parentDepth) + 1].getChannel(0);
    // A leaf reads its distances only through their squares.
    const bool leaf = parentDepth + 1 > maxDepth;
    childBuilder.build(cluster, weights, features, sigmaS, sigmaR, distance,
                       leaf ? ChildManifoldBuilder::Output::SquaredDistancesOnly
                            : ChildManifoldBuilder::Output::DistanceToGuide,
                       childSums);
    squaredSumsReady = true;
    return true;
}

void AdaptiveManifoldFilter<CpuFiltering>::Workspace::divideSumsInto(CpuTexture& output) {
    const unsigned channels = numeratorSum.getChannelsCount();
    if (output.getPixelsCount() != numeratorSum.getPixelsCount() ||
        output.getChannelsCount() != channels) {
        return;
    }
    const std::vector<const float*> numerator = readPlanes(numeratorSum);
    const float* denominator = denominatorSum.getChannel(0);
    const std::vector<float*> out = writePlanes(output);
    forPixelBlocks(output.getPixelsCount(), [&](std::size_t begin, std::size_t end) {
        for (unsigned c = 0; c < channels; ++c) {
            dividePlane(numerator[c] + begin, denominator + begin, end - begin, out[c] + begin);
        }
    });
}

bool AdaptiveManifoldFilter<CpuFiltering>::Workspace::run(CpuTexture& output) {
    // The work planes, swept down their columns node after node, and the
    // tree's lists and projections.
    const HugePagePlanes hugePages;
    prepareScratch();
    guideSmoothing.prepare(features, sigmaS, rangeSigma);
    makeRootDistance();
    walkWholeTree(*this);
    divideSumsInto(output);
    return true;
}

QUENDEL_MANIFOLD_FILTER_LIFETIME(CpuFiltering)

bool AdaptiveManifoldFilter<CpuFiltering>::process(CpuTexture* output,
                                                   SourceVector<CpuFiltering>& source,
                                                   int maxDepth) {
    return processInWorkspace(workspace, output, source, maxDepth);
}

}  // namespace quendel
