#include "host_filters/fixed_guide_smoothing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "foundations/team_for_work.h"
#include "foundations/texture_sizes.h"
#include "host_filters/coefficient_powers.h"
#include "host_filters/domain_distances.h"
#include "host_filters/filter_coefficients.h"
#include "host_filters/tdr_iterations.h"

namespace quendel {

namespace {

void fillPowers(float* out, const float* distances, std::size_t count, float base) {
    const PowerBase prepared = preparePowerBase(base);
    constexpr std::ptrdiff_t kBlock = 16384;
    const std::ptrdiff_t total = static_cast<std::ptrdiff_t>(count);
#pragma omp parallel for num_threads(workerCount()) schedule(static)
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
    ensureTextureSize(distances, width, height, 2);
    computeDomainDistances(guide, distanceWeights(sigmaS, sigmaR), distances.getChannel(0),
                           distances.getChannel(1));
    arrangeRowCoefficients(distances.getChannel(0));
    downColumns.resize(kTdrIterations);
    const std::size_t pixels = guide.getPixelsCount();
    for (int i = 0; i < kTdrIterations; ++i) {
        CpuTexture& plane = downColumns[static_cast<std::size_t>(i)];
        ensureTextureSize(plane, width, height, 1);
        fillPowers(plane.getChannel(0), distances.getChannel(1), pixels,
                   tdrIterationBase(sigmaS, i + 1));
    }
}

// Each group of eight rows of distances is arranged once, in a thread's
// scratch, and every iteration's powers are made from it straight into the
// sweeps' layout: no sweep then rearranges a coefficient row, however many
// images or members of a team sweep under them.
void FixedGuideSmoothing::arrangeRowCoefficients(const float* horizontalDistances) {
    constexpr unsigned kGroupRows = 8;
    const std::size_t perIteration = RowGroupCoefficients::size(width, height);
    // Room to start every iteration's block on a 32-byte boundary.
    rowCoefficients.resize(perIteration * kTdrIterations + kGroupRows);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(rowCoefficients.data());
    float* first = rowCoefficients.data() + (32 - start % 32) % 32 / sizeof(float);
    alongRows.clear();
    std::vector<PowerBase> bases;
    for (int i = 0; i < kTdrIterations; ++i) {
        alongRows.push_back(first + perIteration * static_cast<std::size_t>(i));
        bases.push_back(preparePowerBase(tdrIterationBase(sigmaS, i + 1)));
    }
    const int groups = static_cast<int>((height + kGroupRows - 1) / kGroupRows);
    const std::size_t groupSize = std::size_t{width} * kGroupRows;
#pragma omp parallel num_threads(workerCount())
    {
        std::vector<float> arranged(groupSize + kGroupRows);
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(arranged.data());
        float* local = arranged.data() + (32 - at % 32) % 32 / sizeof(float);
#pragma omp for schedule(static)
        for (int g = 0; g < groups; ++g) {
            const unsigned row = static_cast<unsigned>(g) * kGroupRows;
            RowGroupCoefficients::arrange(horizontalDistances, width, height, row,
                                          std::min(height, row + kGroupRows), local);
            for (int i = 0; i < kTdrIterations; ++i) {
                float* out = const_cast<float*>(alongRows[static_cast<std::size_t>(i)]) +
                             static_cast<std::size_t>(g) * groupSize;
                fillCoefficientPowers(out, local, groupSize, bases[static_cast<std::size_t>(i)]);
            }
        }
    }
}

bool FixedGuideSmoothing::smooth(CpuTexture& image, const RowStages& stages) {
    if (image.getWidth() != width || image.getHeight() != height) {
        return false;
    }
    std::vector<IterationCoefficients> planes;
    for (std::size_t i = 0; i < downColumns.size(); ++i) {
        planes.push_back({alongRows[i], downColumns[i].getChannel(0)});
    }
    sweepPreparedIterations(image, planes, stages);
    return true;
}

}  // namespace quendel
