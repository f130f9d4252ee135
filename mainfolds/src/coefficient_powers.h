#pragma once

#include <cstddef>

namespace quendel {

/// out[i] = coefficientPower(base, exponents[i]) for i < count, bit for bit,
/// vectorised. `out` and `exponents` may be the same array.
void fillCoefficientPowers(float* out, const float* exponents, std::size_t count, float base);

}  // namespace quendel
