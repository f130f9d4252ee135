#include "foundations/team_for_work.h"
#include "foundations/texture_sizes.h"
#include "host_filters/domain_distances.h"
#include "host_filters/filter_coefficients.h"
#include "host_filters/tdr_iterations.h"
#include "quendel/tdr_filter.h"

namespace quendel {

namespace {}  // namespace

bool TDRFilter<CpuFiltering>::process(CpuTexture& image, const CpuTexture& guide, float sigmaS,
                                      float sigmaR) {
    const unsigned width = image.getWidth();
    const unsigned height = image.getHeight();
    if (guide.getWidth() != width || guide.getHeight() != height) {
        return false;
    }
    ensureTextureSize(horizontalDistances, width, height, 1);
    ensureTextureSize(verticalDistances, width, height, 1);
    ensureTextureSize(coefficients, width, height, 1);
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
