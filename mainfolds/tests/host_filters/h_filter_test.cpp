#include "host_filters/h_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "foundations/team_for_work.h"
#include "foundations/test_textures.h"
#include "host_filters/whole_team_test.h"
#include "quendel/texture.h"
#include "quendel/threads.h"

namespace quendel {
namespace {

// The H filter written directly from its equations, one thread, no tricks.
struct ReferenceHFilter {
    static float coefficient(float sigma) {
        const float sqrt2 = std::sqrt(2.0f);
        const float exponent = -sqrt2 / sigma;
        return std::exp(exponent);
    }

    static void horizontal(CpuTexture& texture, float sigma) {
        const float a = coefficient(sigma);
        const unsigned w = texture.getWidth(), h = texture.getHeight();
        for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
            float* plane = texture.getChannel(c);
            for (unsigned y = 0; y < h; ++y) {
                float* row = plane + y * w;
                for (unsigned x = 1; x < w; ++x) {
                    row[x] = row[x] + a * (row[x - 1] - row[x]);
                }
                for (int x = static_cast<int>(w) - 2; x >= 0; --x) {
                    row[x] = row[x] + a * (row[x + 1] - row[x]);
                }
            }
        }
    }

    static void vertical(CpuTexture& texture, float sigma) {
        const float a = coefficient(sigma);
        const unsigned w = texture.getWidth(), h = texture.getHeight();
        for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
            float* plane = texture.getChannel(c);
            for (unsigned y = 1; y < h; ++y) {
                for (unsigned x = 0; x < w; ++x) {
                    float& value = plane[y * w + x];
                    value = value + a * (plane[(y - 1) * w + x] - value);
                }
            }
            for (int y = static_cast<int>(h) - 2; y >= 0; --y) {
                for (unsigned x = 0; x < w; ++x) {
                    float& value = plane[y * w + x];
                    value = value + a * (plane[(y + 1) * w + x] - value);
                }
            }
        }
    }
};

using quendel::test::randomTexture;

using test::contents;
using HFilterTest = test::WholeTeamTest;

TEST_F(HFilterTest, MatchesTheReferenceBitForBitAtEveryTeamSize) {
    struct Shape {
        unsigned w, h, channels;
    };
    const Shape shapes[] = {{1, 1, 1},   {1, 17, 2},   {23, 1, 1}, {37, 29, 3},
                            {64, 64, 1}, {130, 71, 2}, {200, 9, 5}};
    unsigned seed = 1;
    for (const Shape& shape : shapes) {
        for (float sigma : {0.7f, 4.0f, 31.0f}) {
            const CpuTexture input = randomTexture(shape.w, shape.h, shape.channels, seed++);
            CpuTexture expected = input.clone(~0u);
            ReferenceHFilter::horizontal(expected, sigma);
            ReferenceHFilter::vertical(expected, sigma);
            for (int team : {1, 2, 4, 7}) {
                setThreadCount(team);
                CpuTexture actual = input.clone(~0u);
                horizontalHPass(actual, sigma);
                verticalHPass(actual, sigma);
                ASSERT_EQ(contents(actual), contents(expected))
                    << shape.w << "x" << shape.h << "x" << shape.channels << " sigma " << sigma
                    << " team " << team;
            }
        }
    }
}

TEST_F(HFilterTest, EachPassWorksAlongItsOwnDirectionOnly) {
    const CpuTexture input = randomTexture(19, 11, 2, 5);
    CpuTexture rows = input.clone(~0u), expectedRows = input.clone(~0u);
    horizontalHPass(rows, 3.0f);
    ReferenceHFilter::horizontal(expectedRows, 3.0f);
    EXPECT_EQ(contents(rows), contents(expectedRows));
    EXPECT_NE(contents(rows), contents(input));

    CpuTexture columns = input.clone(~0u), expectedColumns = input.clone(~0u);
    verticalHPass(columns, 3.0f);
    ReferenceHFilter::vertical(expectedColumns, 3.0f);
    EXPECT_EQ(contents(columns), contents(expectedColumns));

    // A single column has no horizontal neighbours, a single row no vertical ones.
    const CpuTexture column = randomTexture(1, 12, 1, 6);
    CpuTexture filtered = column.clone(~0u);
    horizontalHPass(filtered, 3.0f);
    EXPECT_EQ(contents(filtered), contents(column));
    const CpuTexture row = randomTexture(12, 1, 1, 7);
    filtered = row.clone(~0u);
    verticalHPass(filtered, 3.0f);
    EXPECT_EQ(contents(filtered), contents(row));
}

TEST_F(HFilterTest, ImpulseNextToTheBorderReachesTheBorderAndConstantsStay) {
    const unsigned w = 6, h = 5;
    std::vector<float> impulse(w * h, 0.0f);
    impulse[2 * w + 1] = 1.0f;  // column 1 of row 2
    CpuTexture columnImpulse(impulse.data(), w, h, 1, false);
    horizontalHPass(columnImpulse, 2.0f);
    EXPECT_GT(columnImpulse.getChannel(0)[2 * w + 0], 0.0f);
    EXPECT_EQ(columnImpulse.getChannel(0)[1 * w + 0], 0.0f) << "leaked into another row";

    std::fill(impulse.begin(), impulse.end(), 0.0f);
    impulse[1 * w + 3] = 1.0f;  // row 1 of column 3
    CpuTexture rowImpulse(impulse.data(), w, h, 1, false);
    verticalHPass(rowImpulse, 2.0f);
    EXPECT_GT(rowImpulse.getChannel(0)[0 * w + 3], 0.0f);
    EXPECT_EQ(rowImpulse.getChannel(0)[0 * w + 2], 0.0f) << "leaked into another column";

    std::vector<float> flat(w * h * 2, 0.375f);
    CpuTexture constant(flat.data(), w, h, 2, false);
    horizontalHPass(constant, 5.0f);
    verticalHPass(constant, 5.0f);
    EXPECT_EQ(contents(constant), flat);
}

TEST_F(HFilterTest, EmptyTexturesAreLeftAlone) {
    CpuTexture empty;
    horizontalHPass(empty, 2.0f);
    verticalHPass(empty, 2.0f);
    CpuTexture noRows(nullptr, 5, 0, 1, false);
    horizontalHPass(noRows, 2.0f);
    verticalHPass(noRows, 2.0f);
    EXPECT_EQ(noRows.getWidth(), 5u);
    EXPECT_EQ(noRows.getPixelsCount(), 0u);
}

}  // namespace
}  // namespace quendel
