#include "foundations/exponentials.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "quendel/instruction_set.h"

#if defined(__x86_64__) && defined(__GLIBC__) && (defined(__GNUC__) || defined(__clang__))
#include <gnu/libc-version.h>
#include <immintrin.h>
#define QUENDEL_EXP_LANES 1
#endif

namespace quendel {

namespace {

float scalarExponential(float value, float scale) {
    return std::exp(value * scale);
}

#ifdef QUENDEL_EXP_LANES

// GNU libc's expf: x = (k + r) ln2 / 32 with k rounded to nearest, then
// 2^(k/32) from a table of 2^(i/32) (each entry less i << 47, so that adding
// k << 47 puts the whole k into the exponent) times a cubic in r, all in
// double precision; the steps the C compiler fused into multiply-adds are
// fused here too.
namespace libc_expf {

constexpr double kInvLn2Scaled = 0x1.71547652b82fep+5;  // 32 / ln 2
constexpr double kShift = 0x1.8p+52;                    // rounds to an integer
constexpr double kC0 = 0x1.c6af84b912394p-20;
constexpr double kC1 = 0x1.ebfce50fac4f3p-13;
constexpr double kC2 = 0x1.62e42ff0c52d6p-6;
// Arguments whose top twelve bits (sign left out) exceed this take the
// library's own path: |x| >= 88, infinities, not a number.
constexpr std::uint32_t kLargestPlainTop = 0x42a;

alignas(32) constexpr std::uint64_t kTable[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51,
    0x3fef72b83c7d517b, 0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1,
    0x3fef06fe0a31b715, 0x3feef1a7373aa9cb, 0x3feedea64c123422, 0x3feece086061892d,
    0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429, 0x3feea47eb03a5585,
    0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d,
    0x3feee89f995ad3ad, 0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069,
    0x3fef5818dcfba487, 0x3fef7c97337b9b5f, 0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};

}  // namespace libc_expf

// Four arguments (already scaled, single precision) to their exponentials;
// the bit mask of lanes that need the library's own path.
__attribute__((target("avx2,fma"))) inline __m128 fourExponentials(__m128 x, int& special) {
    using namespace libc_expf;
    const __m128i top =
        _mm_and_si128(_mm_srli_epi32(_mm_castps_si128(x), 20), _mm_set1_epi32(0x7ff));
    special =
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(top, _mm_set1_epi32(kLargestPlainTop))));
    const __m256d xd = _mm256_cvtps_pd(x);
    const __m256d invLn2 = _mm256_set1_pd(kInvLn2Scaled);
    const __m256d shift = _mm256_set1_pd(kShift);
    __m256d kd = _mm256_fmadd_pd(invLn2, xd, shift);
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = _mm256_sub_pd(kd, shift);
    const __m256d r = _mm256_fmsub_pd(invLn2, xd, kd);
    const __m256i index = _mm256_and_si256(ki, _mm256_set1_epi64x(31));
    __m256i t = _mm256_i64gather_epi64(reinterpret_cast<const long long*>(kTable), index, 8);
    t = _mm256_add_epi64(t, _mm256_slli_epi64(ki, 47));
    const __m256d s = _mm256_castsi256_pd(t);
    const __m256d z = _mm256_fmadd_pd(_mm256_set1_pd(kC0), r, _mm256_set1_pd(kC1));
    const __m256d r2 = _mm256_mul_pd(r, r);
    __m256d y = _mm256_fmadd_pd(_mm256_set1_pd(kC2), r, _mm256_set1_pd(1.0));
    y = _mm256_fmadd_pd(z, r2, y);
    y = _mm256_mul_pd(y, s);
    return _mm256_cvtpd_ps(y);
}

__attribute__((target("avx2,fma"))) void exponentialLanes(const float* values, float scale,
                                                          std::size_t count, float* out) {
    const __m128 factor = _mm_set1_ps(scale);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 x = _mm_mul_ps(_mm_loadu_ps(values + i), factor);
        int special = 0;
        const __m128 y = fourExponentials(x, special);
        _mm_storeu_ps(out + i, y);
        if (special != 0) {
            alignas(16) float arguments[4];
            _mm_store_ps(arguments, x);
            for (int lane = 0; lane < 4; ++lane) {
                if ((special >> lane) & 1) {
                    out[i + lane] = std::exp(arguments[lane]);
                }
            }
        }
    }
    for (; i < count; ++i) {
        out[i] = scalarExponential(values[i], scale);
    }
}

// Arguments across the whole range, the awkward ones included, checked
// against the library once: the lanes are used only if every one agrees.
bool lanesAgreeWithTheLibrary() {
    constexpr std::size_t kSamples = 1 << 16;
    std::vector<float> arguments(kSamples);
    std::vector<float> lanes(kSamples);
    std::uint32_t state = 12345u;
    for (std::size_t i = 0; i < kSamples; ++i) {
        state = state * 1664525u + 1013904223u;
        // Mostly magnitudes from 2^-15 to 2^8, every eighth one any below 2^8.
        const std::uint32_t exponent =
            i % 8 == 0 ? (state >> 24) % 0x87u : 0x70u + (state >> 24) % 0x17u;
        const std::uint32_t bits = (state & 0x807fffffu) | (exponent << 23);
        std::memcpy(&arguments[i], &bits, sizeof bits);
    }
    const float edges[] = {0.0f,   -0.0f,    1.0f,       -1.0f,    88.0f,     -88.0f,
                           88.72f, -103.28f, -103.97f,   -104.0f,  -87.99f,   87.99f,
                           1e-30f, -1e-30f,  -0x1p-149f, INFINITY, -INFINITY, NAN};
    std::memcpy(arguments.data(), edges, sizeof edges);
    exponentialLanes(arguments.data(), 1.0f, kSamples, lanes.data());
    for (std::size_t i = 0; i < kSamples; ++i) {
        const float expected = std::exp(arguments[i]);
        if (std::memcmp(&expected, &lanes[i], sizeof expected) != 0) {
            return false;
        }
    }
    return true;
}

bool decideLanes() {
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) {
        return false;  // the library then takes a path without fused steps
    }
    // The double-precision expf with this table came with libc 2.27.
    int major = 0, minor = 0;
    if (std::sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) != 2 ||
        (major == 2 && minor < 27) || major < 2) {
        return false;
    }
    return lanesAgreeWithTheLibrary();
}

#endif

}  // namespace

bool exponentialLanesInUse() {
#ifdef QUENDEL_EXP_LANES
    static const bool inUse = decideLanes();
    return inUse;
#else
    return false;
#endif
}

void exponentialsOfScaled(const float* values, float scale, std::size_t count, float* out) {
#ifdef QUENDEL_EXP_LANES
    if (exponentialLanesInUse() && activeInstructionSet() >= InstructionSet::Avx2) {
        exponentialLanes(values, scale, count, out);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = scalarExponential(values[i], scale);
    }
}

}  // namespace quendel
