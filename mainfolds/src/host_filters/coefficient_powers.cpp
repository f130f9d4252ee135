#include "host_filters/coefficient_powers.h"

#include <cstdint>

#include "foundations/simd_dispatch.h"
#include "host_filters/filter_coefficients.h"

#ifdef QUENDEL_SIMD_DISPATCH_SETS
#include <immintrin.h>
#endif

namespace quendel {

namespace {

// Floats per call of a set's loop: whole turns only, a tail goes through a
// buffer of one turn.
constexpr std::size_t kPerTurn = 16;

typedef float FloatPair __attribute__((vector_size(2 * sizeof(float))));
typedef double DoublePair __attribute__((vector_size(2 * sizeof(double))));
typedef std::uint64_t WordPair __attribute__((vector_size(2 * sizeof(double))));

// The lane-wise twin of coefficientPowerFromLog: the same operations in the
// same order, on two values from `exponents` into `out`.
QUENDEL_ALWAYS_INLINE void twoPowersFromLog(double logBase, const float* exponents, float* out) {
    using namespace coefficient_power;
    const DoublePair lowest = DoublePair{} + kLowestExponent;
    const DoublePair highest = DoublePair{} + kHighestExponent;
    FloatPair lanes;
    __builtin_memcpy(&lanes, exponents, sizeof lanes);
    DoublePair t = __builtin_convertvector(lanes, DoublePair) * logBase;
    t = t < lowest ? lowest : t;
    t = t > highest ? highest : t;
    const DoublePair shifted = t * kLog2e + kRoundingShifter;
    const DoublePair k = shifted - kRoundingShifter;
    DoublePair p;
    reducedExponential(t, k, p);
    const WordPair power = __builtin_bit_cast(WordPair, shifted) - bitsOf(kRoundingShifter);
    const DoublePair scale = __builtin_bit_cast(DoublePair, (power + 1023u) << 52);
    lanes = __builtin_convertvector(p * scale, FloatPair);
    __builtin_memcpy(out, &lanes, sizeof lanes);
}

QUENDEL_ALWAYS_INLINE void turnsInPairs(float* out, const float* exponents, std::size_t turns,
                                        double logBase) {
    for (std::size_t i = 0; i < turns * kPerTurn; i += 2) {
        twoPowersFromLog(logBase, exponents + i, out + i);
    }
}

#ifdef QUENDEL_SIMD_DISPATCH_SETS

// The same on four lanes, written with AVX2's own conversions: the
// compiler's generic ones split each widening in halves. max(lowest, t)
// and min(highest, t) return t when it is not a number, as the comparisons
// of the scalar formula do.
__attribute__((target("avx2,fma"))) inline __m128 fourPowersFromLog(__m256d logBase,
                                                                    const float* exponents) {
    using namespace coefficient_power;
    __m256d t = _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(exponents)), logBase);
    t = _mm256_max_pd(_mm256_set1_pd(kLowestExponent), t);
    t = _mm256_min_pd(_mm256_set1_pd(kHighestExponent), t);
    const __m256d shifter = _mm256_set1_pd(kRoundingShifter);
    const __m256d shifted = _mm256_add_pd(_mm256_mul_pd(t, _mm256_set1_pd(kLog2e)), shifter);
    const __m256d k = _mm256_sub_pd(shifted, shifter);
    __m256d p;
    reducedExponential(t, k, p);
    const __m256i power =
        _mm256_sub_epi64(_mm256_castpd_si256(shifted),
                         _mm256_set1_epi64x(static_cast<long long>(bitsOf(kRoundingShifter))));
    const __m256i scale = _mm256_slli_epi64(_mm256_add_epi64(power, _mm256_set1_epi64x(1023)), 52);
    return _mm256_cvtpd_ps(_mm256_mul_pd(p, _mm256_castsi256_pd(scale)));
}

__attribute__((target("avx2,fma"))) inline void turnsOfFourLanes(float* out, const float* exponents,
                                                                 std::size_t turns,
                                                                 double logBase) {
    const __m256d base = _mm256_set1_pd(logBase);
    for (std::size_t i = 0; i < turns * kPerTurn; i += 4) {
        _mm_storeu_ps(out + i, fourPowersFromLog(base, exponents + i));
    }
}

// The same on eight lanes with AVX-512's instructions (their masked forms:
// GCC 12 warns of the unmasked ones' undefined pass-through operand).
__attribute__((target("arch=x86-64-v4"))) inline __m256 eightPowersFromLog(__m512d logBase,
                                                                           const float* exponents) {
    using namespace coefficient_power;
    constexpr __mmask8 kAll = 0xff;
    const __m512d lowest = _mm512_set1_pd(kLowestExponent);
    const __m512d highest = _mm512_set1_pd(kHighestExponent);
    __m512d t = _mm512_mask_cvtps_pd(lowest, kAll, _mm256_loadu_ps(exponents)) * logBase;
    t = _mm512_mask_max_pd(t, kAll, lowest, t);
    t = _mm512_mask_min_pd(t, kAll, highest, t);
    const __m512d shifted = t * kLog2e + kRoundingShifter;
    const __m512d k = shifted - kRoundingShifter;
    __m512d p;
    reducedExponential(t, k, p);
    const __m512i power =
        _mm512_castpd_si512(shifted) - static_cast<long long>(bitsOf(kRoundingShifter));
    const __m512i scale = (power + 1023) << 52;
    return _mm512_mask_cvtpd_ps(_mm256_setzero_ps(), kAll, p * _mm512_castsi512_pd(scale));
}

__attribute__((target("arch=x86-64-v4"))) inline void turnsOfEightLanes(float* out,
                                                                        const float* exponents,
                                                                        std::size_t turns,
                                                                        double logBase) {
    const __m512d base = _mm512_set1_pd(logBase);
    for (std::size_t i = 0; i < turns * kPerTurn; i += 8) {
        _mm256_storeu_ps(out + i, eightPowersFromLog(base, exponents + i));
    }
}

#endif

QUENDEL_SIMD_COPIES(fillTurns, turnsInPairs, turnsOfFourLanes, turnsOfEightLanes)

void fillRegularPowers(float* out, const float* exponents, std::size_t count, double logBase) {
    const std::size_t turns = count / kPerTurn;
    fillTurns(out, exponents, turns, logBase);
    const std::size_t done = turns * kPerTurn;
    if (done < count) {
        float tail[kPerTurn] = {};
        __builtin_memcpy(tail, exponents + done, (count - done) * sizeof(float));
        fillTurns(tail, tail, std::size_t{1}, logBase);
        __builtin_memcpy(out + done, tail, (count - done) * sizeof(float));
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
