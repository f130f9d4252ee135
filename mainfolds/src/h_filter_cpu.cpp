#include "filter_coefficients.h"
#include "h_filter.h"
#include "recursive_sweeps.h"

namespace quendel {

namespace {

PassCoefficients constantCoefficient(float sigma) {
    PassCoefficients coefficients;
    coefficients.base = feedbackCoefficient(sigma);
    return coefficients;
}

}  // namespace

void horizontalHPass(CpuTexture& texture, float sigma) {
    horizontalRecursivePass(texture, constantCoefficient(sigma));
}

void verticalHPass(CpuTexture& texture, float sigma) {
    verticalRecursivePass(texture, constantCoefficient(sigma));
}

}  // namespace quendel
