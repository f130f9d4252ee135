#include "fixed_guide_smoothing.h"

#include <algorithm>
#include <cstddef>

#include "coefficient_powers.h"
#include "domain_distances.h"
#include "filter_coefficients.h"
#include "quendel/threads.h"
#include "tdr_iterations.h"

namespace quendel {

namespace {

void ensurePlane(CpuTexture& texture, unsigned width, unsigned height, unsigned channels) {
    if (!texture.hasSize(width, height, channels)) {
        texture = CpuTexture(nullptr, width, height, channels, true);
    }
}

void fillPowers(float* out, const float* distances, std::size_t count, float base) {
    const PowerBase prepared = preparePowerBase(base);
    constexpr std::ptrdiff_t kBlock = 16384;
    const std::ptrdiff_t total = static_cast<std::ptrdiff_t>(count);
#pragma omp parallel for num_threads(threadCount()) schedule(static)
    for (std::ptrdiff_t begin = 0; begin < total; begin += kBlock) {
        const std::size_t length = static_cast<std::size_t>(std::min(kBlock, total - begin));
        fillCoefficientPowers(out + begin, distances + begin, length, prepared);
    }
}

}  // namespace

void FixedGuideSmoothing::prepare(const CpuTexture& guide, float sigmaS, float sigmaR) {
    this->sigmaS = sigmaS;
    width = guide.getWidth();
    height = guide.getHeight();
    ensurePlane(distances, width, height, 2);
    computeDomainDistances(guide, distanceWeights(sigmaS, sigmaR), distances.getChannel(0),
                           distances.getChannel(1));
    iterations.resize(kTdrIterations);
    const std::size_t pixels = guide.getPixelsCount();
    for (int i = 0; i < kTdrIterations; ++i) {
        Iteration& iteration = iterations[static_cast<std::size_t>(i)];
        const float base = tdrIterationBase(sigmaS, i + 1);
        ensurePlane(iteration.horizontal, width, height, 1);
        ensurePlane(iteration.vertical, width, height, 1);
        fillPowers(iteration.horizontal.getChannel(0), distances.getChannel(0), pixels, base);
        fillPowers(iteration.vertical.getChannel(0), distances.getChannel(1), pixels, base);
    }
}

bool FixedGuideSmoothing::smooth(CpuTexture& image, const RowStages& stages) {
    if (image.getWidth() != width || image.getHeight() != height) {
        return false;
    }
    std::vector<IterationCoefficients> planes;
    for (Iteration& iteration : iterations) {
        planes.push_back({iteration.horizontal.getChannel(0), iteration.vertical.getChannel(0)});
    }
    sweepPreparedIterations(image, planes, stages);
    return true;
}

}  // namespace quendel
