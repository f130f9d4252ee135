#pragma once

#include <cstddef>

namespace quendel {

/// A base of many powers with its logarithm worked out once.
struct PowerBase {
    float value;
    double logarithm;
};

PowerBase preparePowerBase(float base);

/// out[i] = coefficientPower(base, exponents[i]) for i < count, bit for bit,
/// vectorised. `out` and `exponents` may be the same array.
void fillCoefficientPowers(float* out, const float* exponents, std::size_t count,
                           const PowerBase& base);

inline void fillCoefficientPowers(float* out, const float* exponents, std::size_t count,
                                  float base) {
    fillCoefficientPowers(out, exponents, count, preparePowerBase(base));
}

}  // namespace quendel
