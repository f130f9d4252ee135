#include "child_manifold.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "quendel/threads.h"

namespace quendel {

namespace {

constexpr float kMinimumDenominator = 0.000001f;

// 2^k by repeated squaring; the reciprocal for negative k.
float powerOfTwo(int k) {
    unsigned exponent = static_cast<unsigned>(k < 0 ? -static_cast<long long>(k) : k);
    float base = 2.0f;
    float result = 1.0f;
    while (exponent != 0) {
        if (exponent & 1u) {
            result = result * base;
        }
        base = base * base;
        exponent >>= 1;
    }
    return k < 0 ? 1.0f / result : result;
}

bool sameSize(const CpuTexture& texture, unsigned width, unsigned height, unsigned channels) {
    return texture.hasSize(width, height, channels);
}

CpuTexture planeView(const CpuTexture& texture, unsigned index) {
    CpuTexture view(nullptr, texture.getWidth(), texture.getHeight(), 0, false);
    view.appendPlane(texture.planeHandle(index));
    return view;
}

// Planes are resampled independently, so each may go to its own thread.
void scalePlanes(const CpuTexture& from, CpuTexture& to) {
    const int count = static_cast<int>(std::min(from.getChannelsCount(), to.getChannelsCount()));
#pragma omp parallel for num_threads(threadCount()) schedule(static)
    for (int i = 0; i < count; ++i) {
        CpuTexture target = planeView(to, static_cast<unsigned>(i));
        planeView(from, static_cast<unsigned>(i)).bilinearScaleTo(target);
    }
}

}  // namespace

ChildSmoothing childSmoothing(float sigmaS, float sigmaR, unsigned width, unsigned height) {
    const ChildSmoothing fullSize{false, width, height, sigmaS};
    const float df = std::min(sigmaS * 0.25f, sigmaR * 256.0f);
    const float levels = std::floor(std::log(df) / std::log(2.0f));
    if (std::isnan(levels)) {
        return fullSize;
    }
    // Past +-200 the power is infinite or zero anyway; the clamp keeps the
    // conversion to int defined.
    const float power = powerOfTwo(static_cast<int>(std::clamp(levels, -200.0f, 200.0f)));
    const float factor = sigmaS / power >= 1.0f ? sigmaS / power : 1.0f;
    if (factor <= 1.0f) {
        return fullSize;
    }
    const unsigned reducedWidth = static_cast<unsigned>(static_cast<float>(width) / factor);
    const unsigned reducedHeight = static_cast<unsigned>(static_cast<float>(height) / factor);
    return ChildSmoothing{true, std::max(1u, reducedWidth), std::max(1u, reducedHeight),
                          sigmaS / factor};
}

ChildManifoldBuilder::ChildManifoldBuilder(Smoother smoother_) : smoother(std::move(smoother_)) {}

void ChildManifoldBuilder::build(const PixelList& cluster, const float* parentWeights,
                                 const CpuTexture& features, float sigmaS, float sigmaR,
                                 CpuTexture& manifold) {
    const unsigned width = features.getWidth();
    const unsigned height = features.getHeight();
    const unsigned channels = features.getChannelsCount();
    if (!sameSize(planes, width, height, channels + 1)) {
        planes = CpuTexture(nullptr, width, height, channels + 1, true);
    }
    markCluster(cluster, width, height);
    maskPlanes(parentWeights, features);
    smooth(childSmoothing(sigmaS, sigmaR, width, height));
    divideInto(manifold);
}

void ChildManifoldBuilder::markCluster(const PixelList& cluster, unsigned width, unsigned height) {
    inCluster.assign(static_cast<std::size_t>(width) * height, 0);
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(cluster.size());
#pragma omp parallel for num_threads(threadCount()) schedule(static)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const PixelCoord pixel = cluster[i];
        inCluster[static_cast<std::size_t>(pixel.y) * width + pixel.x] = 1;
    }
}

// Inside the cluster: numerator_c = (1 - w) * guide_c, denominator = 1 - w.
// Outside: both zero, so pixels of other clusters do not leak into this one.
void ChildManifoldBuilder::maskPlanes(const float* parentWeights, const CpuTexture& features) {
    const unsigned channels = features.getChannelsCount();
    const std::ptrdiff_t pixels = features.getPixelsCount();
    float* denominator = planes.getChannel(channels);
    const unsigned char* member = inCluster.data();
#pragma omp parallel num_threads(threadCount())
    {
#pragma omp for schedule(static)
        for (std::ptrdiff_t p = 0; p < pixels; ++p) {
            denominator[p] = member[p] ? 1.0f - parentWeights[p] : 0.0f;
        }
        for (unsigned c = 0; c < channels; ++c) {
            const float* guide = features.getChannel(c);
            float* numerator = planes.getChannel(c);
#pragma omp for schedule(static)
            for (std::ptrdiff_t p = 0; p < pixels; ++p) {
                numerator[p] = member[p] ? denominator[p] * guide[p] : 0.0f;
            }
        }
    }
}

void ChildManifoldBuilder::smooth(const ChildSmoothing& smoothing) {
    if (!smoothing.reduced) {
        smoother(planes, smoothing.sigma);
        return;
    }
    const unsigned count = planes.getChannelsCount();
    if (!sameSize(smallPlanes, smoothing.width, smoothing.height, count)) {
        smallPlanes = CpuTexture(nullptr, smoothing.width, smoothing.height, count, true);
    }
    scalePlanes(planes, smallPlanes);
    smoother(smallPlanes, smoothing.sigma);
    scalePlanes(smallPlanes, planes);
}

void ChildManifoldBuilder::divideInto(CpuTexture& manifold) const {
    const unsigned channels = manifold.getChannelsCount();
    const std::ptrdiff_t pixels = manifold.getPixelsCount();
    const float* denominator = planes.getChannel(channels);
#pragma omp parallel num_threads(threadCount())
    for (unsigned c = 0; c < channels; ++c) {
        const float* numerator = planes.getChannel(c);
        float* target = manifold.getChannel(c);
#pragma omp for schedule(static)
        for (std::ptrdiff_t p = 0; p < pixels; ++p) {
            const float d = denominator[p];
            // A denominator that is not a number counts as below the clamp.
            target[p] = numerator[p] / (d > kMinimumDenominator ? d : kMinimumDenominator);
        }
    }
}

}  // namespace quendel
