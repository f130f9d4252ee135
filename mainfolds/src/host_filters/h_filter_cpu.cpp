#include "foundations/team_for_work.h"
#include "host_filters/filter_coefficients.h"
#include "host_filters/h_filter.h"
#include "host_filters/recursive_sweeps.h"

namespace quendel {

namespace {

int teamFor(const CpuTexture& texture) {
    return teamForWork(std::size_t{texture.getWidth()} * texture.getHeight() *
                       texture.getChannelsCount());
}

PassCoefficients constantCoefficient(float sigma) {
    PassCoefficients coefficients;
    coefficients.base = feedbackCoefficient(sigma);
    return coefficients;
}

}  // namespace

void horizontalHPass(CpuTexture& texture, float sigma) {
    horizontalRecursivePass(texture, constantCoefficient(sigma), teamFor(texture));
}

void verticalHPass(CpuTexture& texture, float sigma) {
    verticalRecursivePass(texture, constantCoefficient(sigma), teamFor(texture));
}

}  // namespace quendel
