#include "host_filters/coefficient_powers.h"

#include <cstdint>

#include "foundations/simd_dispatch.h"
#include "host_filters/filter_coefficients.h"

namespace quendel {

namespace {

constexpr std::size_t kLanes = 8;
typedef float Floats __attribute__((vector_size(kLanes * sizeof(float))));
typedef double Doubles __attribute__((vector_size(kLanes * sizeof(double))));
typedef std::uint64_t Words __attribute__((vector_size(kLanes * sizeof(double))));

// The lane-wise twin of coefficientPowerFromLog: the same operations in the
// same order, on kLanes values from `exponents` into `out`.
QUENDEL_ALWAYS_INLINE void powersFromLog(double logBase, const float* exponents, float* out) {
    using namespace coefficient_power;
    const Doubles lowest = Doubles{} + kLowestExponent;
    const Doubles highest = Doubles{} + kHighestExponent;
    Floats lanes;
    __builtin_memcpy(&lanes, exponents, sizeof lanes);
    Doubles t = __builtin_convertvector(lanes, Doubles) * logBase;
    t = t < lowest ? lowest : t;
    t = t > highest ? highest : t;
    const Doubles shifted = t * kLog2e + kRoundingShifter;
    const Doubles k = shifted - kRoundingShifter;
    Doubles p;
    reducedExponential(t, k, p);
    const Words power = __builtin_bit_cast(Words, shifted) - bitsOf(kRoundingShifter);
    const Doubles scale = __builtin_bit_cast(Doubles, (power + 1023u) << 52);
    lanes = __builtin_convertvector(p * scale, Floats);
    __builtin_memcpy(out, &lanes, sizeof lanes);
}

QUENDEL_SIMD_CLONES
void fillRegularPowers(float* out, const float* exponents, std::size_t count, double logBase) {
    std::size_t i = 0;
    // Two groups per turn give the scheduler independent chains to overlap.
    for (; i + 2 * kLanes <= count; i += 2 * kLanes) {
        powersFromLog(logBase, exponents + i, out + i);
        powersFromLog(logBase, exponents + i + kLanes, out + i + kLanes);
    }
    for (; i + kLanes <= count; i += kLanes) {
        powersFromLog(logBase, exponents + i, out + i);
    }
    if (i < count) {
        float tail[kLanes] = {};
        __builtin_memcpy(tail, exponents + i, (count - i) * sizeof(float));
        powersFromLog(logBase, tail, tail);
        __builtin_memcpy(out + i, tail, (count - i) * sizeof(float));
    }
}

}  // namespace

PowerBase preparePowerBase(float base) {
    const bool regular = isRegularCoefficient(base);
    return {base, regular ? log(static_cast<double>(base)) : 0.0};
}

void fillCoefficientPowers(float* out, const float* exponents, std::size_t count,
                           const PowerBase& base) {
    if (!isRegularCoefficient(base.value)) {
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = coefficientPower(base.value, exponents[i]);
        }
        return;
    }
    fillRegularPowers(out, exponents, count, base.logarithm);
}

}  // namespace quendel
