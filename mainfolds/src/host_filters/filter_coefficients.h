#pragma once

// Scalar formulas of the recursive filters, shared by the host and the device
// back ends. Every named intermediate is a float so that both back ends round
// at the same points; only the per-pixel power works in double and rounds
// once at its end.

#include <math.h>

#include <cstdint>
#include <cstring>

#include "foundations/host_device.h"

namespace quendel {

/// Iterations of the TDR filter, from the widest kernel to the narrowest.
inline constexpr int kTdrIterations = 4;

/// Weights of the domain-transform distance: sqrt(k0 + k1 * sum of squares).
struct DistanceWeights {
    float k0;
    float k1;
};

QUENDEL_HOST_DEVICE inline DistanceWeights distanceWeights(float sigmaS, float sigmaR) {
    const float spatial = sigmaS / sigmaS;
    const float range = sigmaS / sigmaR;
    return {spatial * spatial, range * range};
}

/// Distance between two neighbours whose guide values differ by squared
/// differences summing (in channel order) to `sumOfSquares`.
QUENDEL_HOST_DEVICE inline float domainDistance(DistanceWeights weights, float sumOfSquares) {
    const float weighted = weights.k1 * sumOfSquares;
    return sqrtf(weights.k0 + weighted);
}

/// Spatial sigma of iteration `iteration` (1 = widest) of `iterations`,
/// chosen so that the iterations together have the variance of one pass
/// with `sigmaS`.
QUENDEL_HOST_DEVICE inline float iterationSigma(float sigmaS, int iteration,
                                                int iterations = kTdrIterations) {
    const float sqrt3 = sqrtf(3.0f);
    const float sqrtSpan = sqrtf(static_cast<float>((1 << (2 * iterations)) - 1));
    const float scale = static_cast<float>(1 << (iterations - iteration));
    const float widened = sigmaS * sqrt3;
    const float scaled = widened * scale;
    return scaled / sqrtSpan;
}

/// Feedback coefficient a = exp(-sqrt2 / sigma) of a recursive pass.
QUENDEL_HOST_DEVICE inline float feedbackCoefficient(float sigma) {
    const float sqrt2 = sqrtf(2.0f);
    const float exponent = -sqrt2 / sigma;
    return expf(exponent);
}

namespace coefficient_power {

// exp(t) = 2^k * exp(r), r = t - k ln2, |r| <= ln2 / 2. A degree-10 Taylor
// polynomial leaves a relative error below 1e-12, far under the float
// rounding that follows, so the float result is within 1 ulp of the true
// power (and almost always the correctly rounded one).
inline constexpr double kLog2e = 1.4426950408889634;
inline constexpr double kLn2High = 6.93147180369123816490e-01;  // 32 trailing zero bits
inline constexpr double kLn2Low = 1.90821492927058770002e-10;
inline constexpr double kRoundingShifter = 0x1.8p52;
// Outside these exponents the float result is already 0 or infinity.
inline constexpr double kLowestExponent = -110.0;
inline constexpr double kHighestExponent = 100.0;
inline constexpr double kC2 = 1.0 / 2.0;
inline constexpr double kC3 = 1.0 / 6.0;
inline constexpr double kC4 = 1.0 / 24.0;
inline constexpr double kC5 = 1.0 / 120.0;
inline constexpr double kC6 = 1.0 / 720.0;
inline constexpr double kC7 = 1.0 / 5040.0;
inline constexpr double kC8 = 1.0 / 40320.0;
inline constexpr double kC9 = 1.0 / 362880.0;
inline constexpr double kC10 = 1.0 / 3628800.0;

QUENDEL_HOST_DEVICE inline std::uint64_t bitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

QUENDEL_HOST_DEVICE inline double fromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// exp(t - k ln2) into `p`: the reduced argument r (ln2 taken in two parts so
// that k ln2 is exact), then the Taylor polynomial of exp(r) by Estrin's
// scheme: pairs of terms joined by r^2 and r^4. Its longest chain of
// dependent operations is a third as long as Horner's rule's, so that more
// powers are under way at once. `Real` is double or a vector of doubles,
// with the same operations; vectors go by reference, as the default target
// cannot pass them in registers.
template <typename Real>
QUENDEL_HOST_DEVICE QUENDEL_FORCE_INLINE void reducedExponential(const Real& t, const Real& k,
                                                                 Real& p) {
    const Real r = (t - k * kLn2High) - k * kLn2Low;
    const Real r2 = r * r;
    const Real r4 = r2 * r2;
    const Real terms01 = r + 1.0;
    const Real terms23 = r * kC3 + kC2;
    const Real terms45 = r * kC5 + kC4;
    const Real terms67 = r * kC7 + kC6;
    const Real terms89 = r * kC9 + kC8;
    const Real terms0to3 = terms23 * r2 + terms01;
    const Real terms4to7 = terms67 * r2 + terms45;
    const Real terms8to10 = r2 * kC10 + terms89;
    p = (terms8to10 * r4 + terms4to7) * r4 + terms0to3;
}

}  // namespace coefficient_power

/// a^d for a in (0, 1) given log(a) in double precision, rounded once to
/// float. A NaN exponent gives NaN. The host's vectorised planes compute the
/// very same operations, so both give identical bits.
QUENDEL_HOST_DEVICE inline float coefficientPowerFromLog(double logBase, float exponent) {
    using namespace coefficient_power;
    double t = static_cast<double>(exponent) * logBase;
    t = t < kLowestExponent ? kLowestExponent : t;
    t = t > kHighestExponent ? kHighestExponent : t;
    const double shifted = t * kLog2e + kRoundingShifter;
    const double k = shifted - kRoundingShifter;
    double p;
    reducedExponential(t, k, p);
    const std::uint64_t power = bitsOf(shifted) - bitsOf(kRoundingShifter);
    const double scale = fromBits((power + 1023u) << 52);
    return static_cast<float>(p * scale);
}

/// Whether `base` takes the fast path of coefficientPowerFromLog; other bases
/// (0, 1, above 1, negative, NaN) go to powf for its exact handling of them.
QUENDEL_HOST_DEVICE inline bool isRegularCoefficient(float base) {
    return base > 0.0f && base < 1.0f;
}

/// base^exponent within 1 ulp: the per-pixel coefficient of a recursive pass.
QUENDEL_HOST_DEVICE inline float coefficientPower(float base, float exponent) {
    if (!isRegularCoefficient(base)) {
        return powf(base, exponent);
    }
    return coefficientPowerFromLog(log(static_cast<double>(base)), exponent);
}

}  // namespace quendel
