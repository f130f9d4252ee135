#include "foundations/exponentials.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace quendel {
namespace {

// Bit patterns spread over every sign, exponent and mantissa, a prime
// stride apart, under scales the filter uses and odd counts that leave a
// tail; written in place and out of place. Every result must carry the bits
// of expf on the product.
TEST(Exponentials, GiveTheBitsOfTheLibraryOverTheWholeRange) {
    std::vector<float> values;
    for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << 32); bits += 4099) {
        const std::uint32_t word = static_cast<std::uint32_t>(bits);
        float value;
        std::memcpy(&value, &word, sizeof value);
        values.push_back(value);
    }
    const float specials[] = {0.0f,
                              -0.0f,
                              88.0f,
                              -88.0f,
                              88.7228f,
                              -103.279f,
                              -103.97f,
                              -87.9999f,
                              1e-40f,
                              -1e-40f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    values.insert(values.begin(), std::begin(specials), std::end(specials));
    values.resize(values.size() / 4 * 4 + 3);
    for (float scale : {1.0f, -0.04f, -2.5f, 0.0f}) {
        std::vector<float> out(values.size());
        exponentialsOfScaled(values.data(), scale, values.size(), out.data());
        std::vector<float> inPlace = values;
        exponentialsOfScaled(inPlace.data(), scale, inPlace.size(), inPlace.data());
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const float expected = std::exp(values[i] * scale);
            if (std::memcmp(&expected, &out[i], sizeof expected) != 0 ||
                std::memcmp(&expected, &inPlace[i], sizeof expected) != 0) {
                if (++mismatches < 5) {
                    ADD_FAILURE() << "exp(" << values[i] << " * " << scale << ") gave " << out[i]
                                  << " / " << inPlace[i] << ", expected " << expected;
                }
            }
        }
        EXPECT_EQ(mismatches, 0u) << "scale " << scale << ", lanes in use "
                                  << exponentialLanesInUse();
    }
}

}  // namespace
}  // namespace quendel
