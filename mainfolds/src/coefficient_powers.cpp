#include "coefficient_powers.h"

#include <cstdint>

#include "filter_coefficients.h"
#include "simd_dispatch.h"

namespace quendel {

namespace {

// Lanes of doubles that one register of each set holds: wider vectors would
// be split by the compiler and spill their halves to the stack.
template <InstructionSet Set>
constexpr std::size_t kDoubleLanes = Set == InstructionSet::Avx512 ? 8
                                     : Set == InstructionSet::Avx2 ? 4
                                                                   : 2;
// Floats handled per turn of the main loop, in independent groups of one
// register each, so that the scheduler can overlap their chains.
constexpr std::size_t kPerTurn = 16;

template <std::size_t Lanes>
struct PowerLanes {
    typedef float Floats __attribute__((vector_size(Lanes * sizeof(float))));
    typedef double Doubles __attribute__((vector_size(Lanes * sizeof(double))));
    typedef std::uint64_t Words __attribute__((vector_size(Lanes * sizeof(double))));
};

// The lane-wise twin of coefficientPowerFromLog: the same operations in the
// same order, on `Lanes` values from `exponents` into `out`.
template <std::size_t Lanes>
QUENDEL_ALWAYS_INLINE void powersFromLog(double logBase, const float* exponents, float* out) {
    using namespace coefficient_power;
    using Floats = typename PowerLanes<Lanes>::Floats;
    using Doubles = typename PowerLanes<Lanes>::Doubles;
    using Words = typename PowerLanes<Lanes>::Words;
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

template <std::size_t Lanes>
QUENDEL_ALWAYS_INLINE void powersOfTurn(double logBase, const float* exponents, float* out) {
    for (std::size_t g = 0; g < kPerTurn; g += Lanes) {
        powersFromLog<Lanes>(logBase, exponents + g, out + g);
    }
}

template <InstructionSet Set>
QUENDEL_ALWAYS_INLINE void fillRegularPowersBody(float* out, const float* exponents,
                                                 std::size_t count, double logBase) {
    constexpr std::size_t lanes = kDoubleLanes<Set>;
    std::size_t i = 0;
    for (; i + kPerTurn <= count; i += kPerTurn) {
        powersOfTurn<lanes>(logBase, exponents + i, out + i);
    }
    if (i < count) {
        float tail[kPerTurn] = {};
        __builtin_memcpy(tail, exponents + i, (count - i) * sizeof(float));
        powersOfTurn<lanes>(logBase, tail, tail);
        __builtin_memcpy(out + i, tail, (count - i) * sizeof(float));
    }
}

QUENDEL_SIMD_DISPATCH_BY_SET(fillRegularPowers, fillRegularPowersBody)

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
