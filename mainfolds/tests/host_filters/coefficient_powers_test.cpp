#include "host_filters/coefficient_powers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "foundations/instruction_set_choice.h"
#include "host_filters/filter_coefficients.h"

namespace quendel {
namespace {

std::int64_t orderedBits(float value) {
    std::int32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits < 0 ? -static_cast<std::int64_t>(bits & 0x7fffffff) : bits;
}

std::int64_t ulpDistance(float a, float b) {
    const std::int64_t d = orderedBits(a) - orderedBits(b);
    return d < 0 ? -d : d;
}

float floatFromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::vector<float> samplesOfBases() {
    std::vector<float> bases;
    for (float sigma : {0.05f, 0.3f, 1.0f, 2.5f, 7.0f, 10.0f, 40.0f, 333.0f, 5000.0f}) {
        for (int i = 1; i <= 4; ++i) {
            bases.push_back(feedbackCoefficient(iterationSigma(sigma, i)));
        }
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 16; ++i) {
        const float base = unit(random);
        if (isRegularCoefficient(base)) {
            bases.push_back(base);
        }
    }
    bases.push_back(std::nextafter(1.0f, 0.0f));
    bases.push_back(std::numeric_limits<float>::min());
    return bases;
}

// Every 2039th float from 0 up to 300: all distances the filter can meet in
// practice, with a few hundred thousand powers overall.
std::vector<float> samplesOfExponents() {
    std::vector<float> exponents;
    const std::uint32_t last = 0x43960000u;  // 300.0f
    for (std::uint32_t bits = 0; bits <= last; bits += 2039u) {
        exponents.push_back(floatFromBits(bits));
    }
    return exponents;
}

TEST(CoefficientPower, WithinOneUlpOfTheTruePowerAndOfPowf) {
    const std::vector<float> exponents = samplesOfExponents();
    std::size_t checked = 0, correctlyRounded = 0;
    for (float base : samplesOfBases()) {
        for (float exponent : exponents) {
            const float ours = coefficientPower(base, exponent);
            const float truth = static_cast<float>(std::pow(double{base}, double{exponent}));
            ASSERT_LE(ulpDistance(ours, truth), 1) << base << "^" << exponent;
            ASSERT_LE(ulpDistance(ours, std::pow(base, exponent)), 1) << base << "^" << exponent;
            correctlyRounded += ours == truth;
            ++checked;
        }
    }
    // Anything but a rare tie-break miss means the polynomial is off.
    EXPECT_GE(correctlyRounded, checked - checked / 100000);
}

TEST(CoefficientPower, EdgeExponentsAndBasesFollowPow) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(coefficientPower(0.5f, 0.0f), 1.0f);
    EXPECT_EQ(coefficientPower(0.5f, 1.0f), 0.5f);
    EXPECT_EQ(coefficientPower(0.5f, inf), 0.0f);
    EXPECT_EQ(coefficientPower(0.5f, 1000.0f), 0.0f);
    EXPECT_EQ(coefficientPower(0.5f, -1000.0f), inf);
    EXPECT_TRUE(std::isnan(coefficientPower(0.5f, nan)));
    EXPECT_EQ(coefficientPower(1.0f, inf), 1.0f);
    EXPECT_EQ(coefficientPower(1.0f, nan), 1.0f);
    EXPECT_EQ(coefficientPower(0.0f, 0.0f), 1.0f);
    EXPECT_EQ(coefficientPower(0.0f, 3.0f), 0.0f);
    EXPECT_EQ(coefficientPower(2.0f, 3.0f), 8.0f);
    EXPECT_TRUE(std::isnan(coefficientPower(nan, 2.0f)));
    // Results in the subnormal range are still within 1 ulp.
    const float tiny = coefficientPower(0.25f, 70.0f);
    EXPECT_GT(tiny, 0.0f);
    EXPECT_LE(ulpDistance(tiny, static_cast<float>(std::pow(0.25, 70.0))), 1);
}

// Every tail length, and the same values at every lane position, against
// the scalar formula on the active set.
void expectPlanesMatchTheScalarFormula(const std::vector<float>& exponents) {
    for (float base : {0.9f, 0.1f, 1e-7f, 0.99999f, 1.0f, 0.0f, 1.5f}) {
        for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8},
                                  std::size_t{9}, std::size_t{31}, exponents.size()}) {
            for (std::size_t start : {std::size_t{0}, std::size_t{3}}) {
                const std::size_t n = std::min(count, exponents.size() - start);
                std::vector<float> out(n + 1, -7.0f);
                fillCoefficientPowers(out.data(), exponents.data() + start, n, base);
                for (std::size_t i = 0; i < n; ++i) {
                    const float expected = coefficientPower(base, exponents[start + i]);
                    ASSERT_EQ(orderedBits(out[i]), orderedBits(expected))
                        << base << "^" << exponents[start + i];
                }
                EXPECT_EQ(out[n], -7.0f) << "wrote past the end";
            }
        }
    }
}

TEST(CoefficientPowers, PlanesMatchTheScalarFormulaBitForBit) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> distances(0.0f, 60.0f);
    std::vector<float> exponents(1000);
    for (float& e : exponents) {
        e = distances(random);
    }
    const float edgeValues[] = {
        0.0f, 1.0f, std::numeric_limits<float>::infinity(), 1e30f, 1e-30f, -3.0f, -1e30f, 150.0f};
    for (std::size_t i = 0; i < std::size(edgeValues); ++i) {
        exponents[13 * i + 5] = edgeValues[i];
    }
    for (const InstructionSet set :
         {InstructionSet::Sse2, InstructionSet::Avx2, InstructionSet::Avx512}) {
        overrideInstructionSet(set);
        if (activeInstructionSet() != set) {
            continue;  // the processor does not have it
        }
        SCOPED_TRACE(instructionSetName(set));
        expectPlanesMatchTheScalarFormula(exponents);
    }
    overrideInstructionSet(std::nullopt);
}

TEST(CoefficientPowers, InPlaceGivesTheSameAsOutOfPlace) {
    std::vector<float> values = {0.0f, 0.5f, 1.0f, 2.0f, 3.5f, 10.0f, 100.0f, 1.25f, 7.0f, 9.0f};
    std::vector<float> separate(values.size());
    fillCoefficientPowers(separate.data(), values.data(), values.size(), 0.8f);
    fillCoefficientPowers(values.data(), values.data(), values.size(), 0.8f);
    EXPECT_EQ(values, separate);
}

}  // namespace
}  // namespace quendel
