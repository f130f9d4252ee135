#include "host_filters/tdr_iterations.h"

#include "host_filters/filter_coefficients.h"
#include "host_filters/recursive_sweeps.h"

namespace quendel {

float tdrIterationBase(float sigmaS, int iteration) {
    return feedbackCoefficient(iterationSigma(sigmaS, iteration));
}

void sweepTdrIterations(CpuTexture& image, float sigmaS, const CoefficientPlanes& planes,
                        int team) {
    for (int iteration = 1; iteration <= kTdrIterations; ++iteration) {
        const float base = tdrIterationBase(sigmaS, iteration);
        const CoefficientPlane alongRows = planes(iteration, SweepDirection::AlongRows);
        const CoefficientPlane downColumns = planes(iteration, SweepDirection::DownColumns);
        horizontalRecursivePass(image, {alongRows.plane, alongRows.distances, base}, team);
        verticalRecursivePass(image, {downColumns.plane, downColumns.distances, base}, team);
    }
}

}  // namespace quendel
