#include "adaptive_manifold/row_enlarger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace quendel {
namespace {

// Every target blended from its own two sources, one by one.
std::vector<float> enlargeOneByOne(const std::vector<float>& row, unsigned targetWidth) {
    const AxisSamples samples = axisSamples(static_cast<unsigned>(row.size()), targetWidth);
    std::vector<float> out(targetWidth);
    for (unsigned i = 0; i < targetWidth; ++i) {
        out[i] = blend(row[samples.first[i]], row[samples.second[i]], samples.fraction[i]);
    }
    return out;
}

TEST(RowEnlarger, GivesTheBitsOfBlendingEveryTargetOnItsOwn) {
    // Enlargements of every kind, equal widths, widths short of one tile and
    // narrowing ones, which cannot be tiled.
    const std::pair<unsigned, unsigned> widths[] = {
        {256, 1024},  {255, 1023}, {100, 101}, {3, 1000}, {1, 7},      {1, 9},  {7, 7},
        {1000, 1000}, {5, 17},     {64, 64},   {9, 8},    {1024, 256}, {37, 5}, {2, 3}};
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    for (const auto& [sourceWidth, targetWidth] : widths) {
        // Values past the row's end that would spoil any target they reached.
        std::vector<float> row(sourceWidth + RowEnlarger::kReadPast,
                               std::numeric_limits<float>::quiet_NaN());
        for (unsigned i = 0; i < sourceWidth; ++i) {
            row[i] = value(generator);
        }
        row[sourceWidth / 2] = std::numeric_limits<float>::infinity();
        const std::vector<float> expected = enlargeOneByOne(
            std::vector<float>(row.begin(), row.begin() + sourceWidth), targetWidth);
        std::vector<float> ours(targetWidth);
        RowEnlarger(sourceWidth, targetWidth).enlarge(row.data(), ours.data());
        EXPECT_EQ(std::memcmp(ours.data(), expected.data(), targetWidth * sizeof(float)), 0)
            << sourceWidth << " -> " << targetWidth;
    }
}

}  // namespace
}  // namespace quendel
