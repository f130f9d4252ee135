#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "adaptive_manifold/child_manifold.h"
#include "adaptive_manifold/manifold_filter_shell.h"
#include "adaptive_manifold/manifold_tree.h"
#include "device_filters/device_staging.h"
#include "device_runtime/device_failure_report.h"
#include "device_runtime/device_kernels.h"
#include "foundations/texture_sizes.h"
#include "quendel/gpu_adaptive_manifold_filter.h"
#include "quendel/gpu_filters.h"
#include "quendel/gpu_matrix.h"

namespace quendel {

namespace {

// A private copy of every plane (clone() shares planes past the 32nd).
GpuTexture privateCopy(const CpuTexture& texture) {
    CpuTexture copy(nullptr, texture.getWidth(), texture.getHeight(), 0, true);
    for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
        copy.appendPlane(std::make_shared<CpuTexture::Plane>(*texture.planeHandle(c)));
    }
    return GpuTexture(copy);
}

void fillZero(CpuTexture& texture) {
    for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
        std::fill_n(texture.getChannel(c), texture.getPixelsCount(), 0.0f);
    }
}

}  // namespace

// What one call works on, and the host scratch it keeps for the next call.
struct AdaptiveManifoldFilter<GpuFiltering>::Workspace : ManifoldFilterState<GpuTexture> {
    int width = 0;
    int height = 0;
    GpuTexture manifold;
    std::vector<float> residualPlanes;  // guide minus manifold, plane after plane
    HFilter<GpuFiltering> hFilter;
    TDRFilter<GpuFiltering> tdrFilter;
    // Set by a device step that failed where no result can carry it (the
    // residual, the smoothing inside the child-manifold builder); the tree
    // walk stops at the next child.
    bool deviceFailed = false;
    ChildManifoldBuilder childBuilder{
        [this](CpuTexture& planes, float sigma) { smoothEdgeBlind(planes, sigma); }};

    bool bind(SourceVector<CpuFiltering>& source, int depthLimit);
    bool run(GpuTexture& output);
    bool filterNode(int depth);
    Residuals residuals();
    bool makeChildManifold(const PixelList& cluster, int parentDepth);
    bool divideSumsInto(GpuTexture& output);

  private:
    device::LaunchShape pixelShape() const { return device::shape2D(width, height); }
    bool computeNodeWeights(GpuTexture& weights);
    bool splatImage(GpuTexture& weights);
    bool gatherSmoothed(GpuTexture& weights);
    bool addWeighted(int valuesChannel, GpuTexture& sums, int sumsChannel, float* weights);
    void smoothEdgeBlind(CpuTexture& planes, float sigma);
};

// The shared binding, then the launch size and a private copy of the guide
// that becomes the root manifold.
bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::bind(SourceVector<CpuFiltering>& source,
                                                           int depthLimit) {
    const bool sameSize = ManifoldFilterState::bind(source, depthLimit);
    width = static_cast<int>(base.getWidth());
    height = static_cast<int>(base.getHeight());
    if (!sameSize) {
        return false;
    }
    manifold = privateCopy(features);
    deviceFailed = false;
    return true;
}

// weights = exp(-2 g^2 * sum over guide channels of (manifold - guide)^2).
bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::computeNodeWeights(GpuTexture& weights) {
    DeviceStaging staging;
    if (!staging.allocate(manifold) || !staging.allocate(features) || !staging.allocate(weights) ||
        !weights.clearDevice()) {
        return false;
    }
    const int channels = static_cast<int>(features.getChannelsCount());
    for (int c = 0; c < channels; ++c) {
        if (!manifold.uploadChannel(c) || !features.uploadChannel(c)) {
            return false;
        }
        device::launch::accumulateWeights(pixelShape(), manifold.getDeviceData(),
                                          features.getDeviceData(), width, height, device::kBlock2D,
                                          weights.getDeviceData());
    }
    device::launch::computeWeights(pixelShape(), weights.getDeviceData(), width, height,
                                   device::kBlock2D, rangeSigma);
    return weights.downloadChannel(0);
}

// smoothed_c = base_c * weights for every image channel.
bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::splatImage(GpuTexture& weights) {
    DeviceStaging staging;
    if (!staging.allocate(base) || !staging.allocate(smoothed) || !staging.allocate(weights) ||
        !weights.uploadChannel(0)) {
        return false;
    }
    const int channels = static_cast<int>(base.getChannelsCount());
    for (int c = 0; c < channels; ++c) {
        if (!base.uploadChannel(c) || !smoothed.clearDevice()) {
            return false;
        }
        device::launch::accumulateWeightedSum(pixelShape(), base.getDeviceData(),
                                              weights.getDeviceData(), width, height,
                                              device::kBlock2D, smoothed.getDeviceData());
        if (!smoothed.downloadChannel(c)) {
            return false;
        }
    }
    return true;
}

// sums[sumsChannel] += smoothed[valuesChannel] * weights, on the device; the
// smoothed values and the weights are staged by the caller.
bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::addWeighted(int valuesChannel,
                                                                  GpuTexture& sums, int sumsChannel,
                                                                  float* weights) {
    if (!smoothed.uploadChannel(valuesChannel) || !sums.uploadChannel(sumsChannel)) {
        return false;
    }
    device::launch::accumulateWeightedSum(pixelShape(), smoothed.getDeviceData(), weights, width,
                                          height, device::kBlock2D, sums.getDeviceData());
    return sums.downloadChannel(sumsChannel);
}

// The smoothed values are sliced with the unsmoothed weights of the node.
bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::gatherSmoothed(GpuTexture& weights) {
    DeviceStaging staging;
    if (!staging.allocate(smoothed) || !staging.allocate(weights) ||
        !staging.allocate(numeratorSum) || !staging.allocate(denominatorSum) ||
        !weights.uploadChannel(0)) {
        return false;
    }
    const int channels = static_cast<int>(base.getChannelsCount());
    for (int c = 0; c < channels; ++c) {
        if (!addWeighted(c, numeratorSum, c, weights.getDeviceData())) {
            return false;
        }
    }
    return addWeighted(channels, denominatorSum, 0, weights.getDeviceData());
}

bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::filterNode(int depth) {
    GpuTexture& weights = nodeWeights[static_cast<std::size_t>(depth)];
    if (!computeNodeWeights(weights) || !splatImage(weights)) {
        return false;
    }
    const unsigned channels = base.getChannelsCount();
    std::copy_n(weights.getChannel(0), weights.getPixelsCount(), smoothed.getChannel(channels));
    return tdrFilter.process(smoothed, features, sigmaS, rangeSigma) && gatherSmoothed(weights);
}

Residuals AdaptiveManifoldFilter<GpuFiltering>::Workspace::residuals() {
    const unsigned long long failuresBefore = device::reportedDeviceFailures();
    GpuMatrix residual(features);
    residual.minus(GpuMatrix(manifold));
    // minus() leaves its operand unchanged when a step fails; only the
    // failure count tells.
    if (device::reportedDeviceFailures() != failuresBefore) {
        deviceFailed = true;
    }
    return deinterleaveResiduals(residual.getData(), features.getPixelsCount(),
                                 features.getChannelsCount(), residualPlanes);
}

void AdaptiveManifoldFilter<GpuFiltering>::Workspace::smoothEdgeBlind(CpuTexture& planes,
                                                                      float sigma) {
    if (deviceFailed) {
        return;
    }
    GpuTexture onDevice(planes);  // shares the planes: the result lands in them
    deviceFailed = !hFilter.process(onDevice, sigma);
}

bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::makeChildManifold(const PixelList& cluster,
                                                                        int parentDepth) {
    if (deviceFailed) {
        return false;
    }
    const float* weights = nodeWeights[static_cast<std::size_t>(parentDepth)].getChannel(0);
    childBuilder.build(cluster, weights, features, sigmaS, sigmaR, manifold);
    return !deviceFailed;
}

bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::divideSumsInto(GpuTexture& output) {
    const unsigned channels = numeratorSum.getChannelsCount();
    if (!output.hasSize(numeratorSum.getWidth(), numeratorSum.getHeight(), channels)) {
        return true;
    }
    DeviceStaging staging;
    if (!staging.allocate(numeratorSum) || !staging.allocate(denominatorSum) ||
        !staging.allocate(output) || !denominatorSum.uploadChannel(0)) {
        return false;
    }
    for (int c = 0; c < static_cast<int>(channels); ++c) {
        if (!numeratorSum.uploadChannel(c)) {
            return false;
        }
        device::launch::divide(pixelShape(), numeratorSum.getDeviceData(),
                               denominatorSum.getDeviceData(), width, height, device::kBlock2D,
                               output.getDeviceData());
        if (!output.downloadChannel(c)) {
            return false;
        }
    }
    return true;
}

bool AdaptiveManifoldFilter<GpuFiltering>::Workspace::run(GpuTexture& output) {
    if (base.getPixelsCount() == 0) {
        return true;  // nothing to filter, nothing written
    }
    prepareSums(fillZero);
    // The root manifold: the low-passed guide.
    if (!hFilter.process(manifold, sigmaS) || !walkWholeTree(*this)) {
        return false;
    }
    return divideSumsInto(output);
}

QUENDEL_MANIFOLD_FILTER_LIFETIME(GpuFiltering)

bool AdaptiveManifoldFilter<GpuFiltering>::process(GpuTexture* output,
                                                   SourceVector<CpuFiltering>& source,
                                                   int maxDepth) {
    return processInWorkspace(workspace, output, source, maxDepth);
}

}  // namespace quendel
