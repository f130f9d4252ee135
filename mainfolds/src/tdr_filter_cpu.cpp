#include "domain_distances.h"
#include "filter_coefficients.h"
#include "quendel/tdr_filter.h"
#include "tdr_iterations.h"
#include "team_for_work.h"

namespace quendel {

namespace {

void makeScratch(CpuTexture& scratch, unsigned width, unsigned height) {
    if (!scratch.hasSize(width, height, 1)) {
        scratch = CpuTexture(nullptr, width, height, 1, false);
    }
}

}  // namespace

bool TDRFilter<CpuFiltering>::process(CpuTexture& image, const CpuTexture& guide, float sigmaS,
                                      float sigmaR) {
    const unsigned width = image.getWidth();
    const unsigned height = image.getHeight();
    if (guide.getWidth() != width || guide.getHeight() != height) {
        return false;
    }
    makeScratch(horizontalDistances, width, height);
    makeScratch(verticalDistances, width, height);
    makeScratch(coefficients, width, height);
    const std::size_t pixels = std::size_t{width} * height;
    const int team = teamForWork(pixels * (image.getChannelsCount() + 1));
    computeDomainDistances(guide, distanceWeights(sigmaS, sigmaR),
                           horizontalDistances.getChannel(0), verticalDistances.getChannel(0),
                           team);

    // One coefficient plane serves every pass: each fills it from its distances.
    sweepTdrIterations(
        image, sigmaS,
        [&](int, SweepDirection direction) {
            const CpuTexture& distances =
                direction == SweepDirection::AlongRows ? horizontalDistances : verticalDistances;
            return CoefficientPlane{coefficients.getChannel(0), distances.getChannel(0)};
        },
        team);
    return true;
}

}  // namespace quendel
