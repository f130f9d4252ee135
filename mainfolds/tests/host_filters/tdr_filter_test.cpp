#include "quendel/tdr_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "foundations/team_for_work.h"
#include "foundations/test_textures.h"
#include "host_filters/filter_coefficients.h"
#include "host_filters/h_filter.h"
#include "host_filters/whole_team_test.h"
#include "quendel/texture.h"
#include "quendel/threads.h"

namespace quendel {
namespace {

// The filter written directly from its equations: one thread, whole planes,
// every rounding where the equations put it. The per-pixel power is the
// library's coefficientPower, which its own test holds to within 1 ulp of
// the true power.
struct ReferenceTdr {
    std::vector<float> horizontal, vertical, coefficients;

    void process(CpuTexture& image, const CpuTexture& guide, float sigmaS, float sigmaR) {
        const unsigned w = image.getWidth(), h = image.getHeight();
        const float spatial = sigmaS / sigmaS, range = sigmaS / sigmaR;
        const float k0 = spatial * spatial, k1 = range * range;
        horizontal.assign(w * h, 0.0f);
        vertical.assign(w * h, 0.0f);
        coefficients.assign(w * h, 0.0f);
        for (unsigned y = 0; y < h; ++y) {
            for (unsigned x = 0; x < w; ++x) {
                if (x > 0) horizontal[y * w + x] = distance(guide, k0, k1, x, y, x - 1, y);
                if (y > 0) vertical[y * w + x] = distance(guide, k0, k1, x, y, x, y - 1);
            }
        }
        const float sqrt3 = std::sqrt(3.0f), sqrt2 = std::sqrt(2.0f);
        const float sqrt255 = std::sqrt(255.0f);
        for (int i = 1; i <= 4; ++i) {
            const float sigma = sigmaS * sqrt3 * static_cast<float>(1 << (4 - i)) / sqrt255;
            const float a = std::exp(-sqrt2 / sigma);
            powers(horizontal, a);
            for (unsigned c = 0; c < image.getChannelsCount(); ++c) {
                sweepRows(image.getChannel(c), w, h);
            }
            powers(vertical, a);
            for (unsigned c = 0; c < image.getChannelsCount(); ++c) {
                sweepColumns(image.getChannel(c), w, h);
            }
        }
    }

    static float distance(const CpuTexture& guide, float k0, float k1, unsigned x, unsigned y,
                          unsigned px, unsigned py) {
        const unsigned w = guide.getWidth();
        float sum = 0.0f;
        for (unsigned c = 0; c < guide.getChannelsCount(); ++c) {
            const float d = guide.getChannel(c)[y * w + x] - guide.getChannel(c)[py * w + px];
            sum += d * d;
        }
        return std::sqrt(k0 + k1 * sum);
    }

    void powers(const std::vector<float>& distances, float a) {
        for (size_t p = 0; p < distances.size(); ++p) {
            coefficients[p] = coefficientPower(a, distances[p]);
        }
    }

    void sweepRows(float* plane, unsigned w, unsigned h) const {
        const float* a = coefficients.data();
        for (unsigned y = 0; y < h; ++y) {
            for (unsigned x = 1; x < w; ++x) {
                const unsigned p = y * w + x;
                plane[p] = plane[p] + a[p] * (plane[p - 1] - plane[p]);
            }
            for (int x = static_cast<int>(w) - 2; x >= 0; --x) {
                const unsigned p = y * w + x;
                plane[p] = plane[p] + a[p + 1] * (plane[p + 1] - plane[p]);
            }
        }
    }

    void sweepColumns(float* plane, unsigned w, unsigned h) const {
        const float* a = coefficients.data();
        for (unsigned y = 1; y < h; ++y) {
            for (unsigned x = 0; x < w; ++x) {
                const unsigned p = y * w + x;
                plane[p] = plane[p] + a[p] * (plane[p - w] - plane[p]);
            }
        }
        for (int y = static_cast<int>(h) - 2; y >= 0; --y) {
            for (unsigned x = 0; x < w; ++x) {
                const unsigned p = y * w + x;
                plane[p] = plane[p] + a[p + w] * (plane[p + w] - plane[p]);
            }
        }
    }
};

using quendel::test::randomTexture;

CpuTexture constantTexture(unsigned w, unsigned h, unsigned channels, float value) {
    std::vector<float> data(static_cast<size_t>(w) * h * channels, value);
    return CpuTexture(data.data(), w, h, channels, false);
}

// Bitwise, so that NaN payloads or a -0 would show too.
bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

using test::contents;
using TdrFilterTest = test::WholeTeamTest;

TEST_F(TdrFilterTest, MatchesTheReferenceBitForBitAtEveryTeamSize) {
    struct Case {
        unsigned w, h, imageChannels, guideChannels;
        float sigmaS, sigmaR;
    };
    const Case cases[] = {
        {1, 1, 1, 1, 10.0f, 0.2f},   {1, 9, 2, 3, 4.0f, 0.5f},     {13, 1, 1, 2, 4.0f, 0.1f},
        {17, 13, 3, 3, 10.0f, 0.2f}, {64, 64, 3, 16, 10.0f, 0.2f}, {100, 37, 1, 1, 25.0f, 1.0f},
        {129, 70, 3, 0, 6.0f, 0.3f}, {70, 129, 2, 5, 2.0f, 0.05f}, {300, 8, 4, 7, 60.0f, 0.4f},
    };
    unsigned seed = 100;
    for (const Case& k : cases) {
        const CpuTexture input = randomTexture(k.w, k.h, k.imageChannels, seed++);
        const CpuTexture guide = randomTexture(k.w, k.h, k.guideChannels, seed++);
        CpuTexture expected = input.clone(~0u);
        ReferenceTdr reference;
        reference.process(expected, guide, k.sigmaS, k.sigmaR);
        for (int team : {1, 2, 4, 7}) {
            setThreadCount(team);
            CpuTexture actual = input.clone(~0u);
            TDRFilter<CpuFiltering> filter;
            ASSERT_TRUE(filter.process(actual, guide, k.sigmaS, k.sigmaR));
            const auto where = ::testing::Message()
                               << k.w << "x" << k.h << "x" << k.imageChannels << " guide "
                               << k.guideChannels << " team " << team;
            ASSERT_TRUE(sameBits(contents(actual), contents(expected))) << where;
            EXPECT_TRUE(sameBits(contents(filter.getHorizontalDistances()), reference.horizontal))
                << where;
            EXPECT_TRUE(sameBits(contents(filter.getVerticalDistances()), reference.vertical))
                << where;
            EXPECT_TRUE(sameBits(contents(filter.getCoefficients()), reference.coefficients))
                << where;
        }
    }
}

TEST_F(TdrFilterTest, SmallWorkOnFewerThreadsGivesTheSameBits) {
    const CpuTexture input = randomTexture(150, 90, 3, 60);
    const CpuTexture guide = randomTexture(150, 90, 4, 61);
    CpuTexture split = input.clone(~0u);
    ASSERT_TRUE(TDRFilter<CpuFiltering>().process(split, guide, 9.0f, 0.15f));
    setMinimumWorkPerThread(defaultWork);
    EXPECT_EQ(teamForWork(150 * 90 * 4), 1) << "the default no longer keeps small work together";
    CpuTexture trimmed = input.clone(~0u);
    ASSERT_TRUE(TDRFilter<CpuFiltering>().process(trimmed, guide, 9.0f, 0.15f));
    EXPECT_TRUE(sameBits(contents(split), contents(trimmed)));
}

TEST_F(TdrFilterTest, SizeMismatchReturnsFalseAndLeavesTheImageUntouched) {
    const CpuTexture input = randomTexture(16, 12, 3, 1);
    for (const CpuTexture& guide :
         {randomTexture(16, 13, 3, 2), randomTexture(15, 12, 3, 3), randomTexture(12, 16, 1, 4)}) {
        CpuTexture image = input.clone(~0u);
        TDRFilter<CpuFiltering> filter;
        EXPECT_FALSE(filter.process(image, guide, 10.0f, 0.2f));
        EXPECT_TRUE(sameBits(contents(image), contents(input)));
        EXPECT_EQ(filter.getCoefficients().getPixelsCount(), 0u) << "scratch made on failure";
    }
}

// Running the H filter with each iteration's sigma is the edge-blind smoother
// the TDR filter must become when its guide has no edges.
CpuTexture plainSmoothing(const CpuTexture& input, float sigmaS) {
    CpuTexture result = input.clone(~0u);
    for (int i = 1; i <= kTdrIterations; ++i) {
        const float sigma = iterationSigma(sigmaS, i);
        horizontalHPass(result, sigma);
        verticalHPass(result, sigma);
    }
    return result;
}

TEST_F(TdrFilterTest, GuidesWithoutEdgesDegradeToThePlainSmoother) {
    const unsigned w = 41, h = 23;
    const CpuTexture input = randomTexture(w, h, 3, 9);
    const std::vector<float> expected = contents(plainSmoothing(input, 8.0f));
    ASSERT_NE(contents(input), expected);

    struct Guided {
        const char* name;
        CpuTexture guide;
        float sigmaR;
    };
    const Guided guides[] = {
        {"no channels", CpuTexture(nullptr, w, h, 0, false), 0.2f},
        {"constant", constantTexture(w, h, 3, 0.7f), 0.2f},
        {"huge sigmaR", randomTexture(w, h, 3, 10), 1e30f},
    };
    for (const Guided& g : guides) {
        CpuTexture image = input.clone(~0u);
        TDRFilter<CpuFiltering> filter;
        ASSERT_TRUE(filter.process(image, g.guide, 8.0f, g.sigmaR));
        EXPECT_TRUE(sameBits(contents(image), expected)) << g.name;
    }
}

TEST_F(TdrFilterTest, SingleRowAndSingleColumnAreFilteredAlike) {
    // With no edges, one row filtered along x must equal the same values as
    // one column filtered along y: each shape exercises only one direction.
    const CpuTexture row = randomTexture(50, 1, 1, 21);
    CpuTexture column(row.getChannel(0), 1, 50, 1, false);
    TDRFilter<CpuFiltering> filter;
    CpuTexture filteredRow = row.clone(~0u);
    ASSERT_TRUE(filter.process(filteredRow, constantTexture(50, 1, 1, 0.5f), 5.0f, 0.2f));
    ASSERT_TRUE(filter.process(column, constantTexture(1, 50, 1, 0.5f), 5.0f, 0.2f));
    EXPECT_TRUE(sameBits(contents(filteredRow), contents(column)));
    EXPECT_NE(contents(filteredRow), contents(row));
}

TEST_F(TdrFilterTest, BorderColumnAndRowAreFiltered) {
    const unsigned w = 8, h = 6;
    const CpuTexture guide = constantTexture(w, h, 2, 0.1f);
    TDRFilter<CpuFiltering> filter;

    std::vector<float> dark(w * h, 0.0f);
    dark[3 * w + 1] = 1.0f;
    CpuTexture inColumn1(dark.data(), w, h, 1, false);
    ASSERT_TRUE(filter.process(inColumn1, guide, 3.0f, 0.2f));
    EXPECT_GT(inColumn1.getChannel(0)[3 * w + 0], 0.0f);

    std::fill(dark.begin(), dark.end(), 0.0f);
    dark[1 * w + 5] = 1.0f;
    CpuTexture inRow1(dark.data(), w, h, 1, false);
    ASSERT_TRUE(filter.process(inRow1, guide, 3.0f, 0.2f));
    EXPECT_GT(inRow1.getChannel(0)[0 * w + 5], 0.0f);
    // Spread to the corner needs both directions: it passes through row 0 and column 0.
    EXPECT_GT(inRow1.getChannel(0)[0], 0.0f);
}

TEST_F(TdrFilterTest, ConstantImagesStayConstantUnderAnyGuide) {
    const CpuTexture guide = randomTexture(33, 21, 4, 30);
    CpuTexture image = constantTexture(33, 21, 3, 0.3f);
    TDRFilter<CpuFiltering> filter;
    ASSERT_TRUE(filter.process(image, guide, 12.0f, 0.05f));
    EXPECT_EQ(contents(image), contents(constantTexture(33, 21, 3, 0.3f)));
}

TEST_F(TdrFilterTest, ImagesWithoutChannelsAreAccepted) {
    CpuTexture image(nullptr, 9, 7, 0, false);
    TDRFilter<CpuFiltering> filter;
    EXPECT_TRUE(filter.process(image, randomTexture(9, 7, 3, 31), 10.0f, 0.2f));
    EXPECT_EQ(image.getChannelsCount(), 0u);
    EXPECT_TRUE(filter.getCoefficients().hasSize(9, 7, 1));

    CpuTexture empty;
    EXPECT_TRUE(filter.process(empty, CpuTexture(), 10.0f, 0.2f));
    EXPECT_TRUE(filter.getCoefficients().hasSize(0, 0, 1));
}

TEST_F(TdrFilterTest, ScratchIsReusedForTheSameSizeAndRemadeForAnother) {
    TDRFilter<CpuFiltering> filter;
    EXPECT_EQ(filter.getCoefficients().getChannelsCount(), 0u);
    CpuTexture first = randomTexture(20, 10, 1, 40);
    ASSERT_TRUE(filter.process(first, randomTexture(20, 10, 2, 41), 6.0f, 0.2f));
    const float* distances = filter.getHorizontalDistances().getChannel(0);
    const float* verticals = filter.getVerticalDistances().getChannel(0);
    const float* coefficients = filter.getCoefficients().getChannel(0);

    // Same size: the same planes, with contents of the new call, so the
    // result equals that of a fresh filter.
    const CpuTexture secondInput = randomTexture(20, 10, 3, 42);
    const CpuTexture secondGuide = randomTexture(20, 10, 3, 43);
    CpuTexture second = secondInput.clone(~0u);
    ASSERT_TRUE(filter.process(second, secondGuide, 4.0f, 0.3f));
    EXPECT_EQ(filter.getHorizontalDistances().getChannel(0), distances);
    EXPECT_EQ(filter.getVerticalDistances().getChannel(0), verticals);
    EXPECT_EQ(filter.getCoefficients().getChannel(0), coefficients);
    CpuTexture fresh = secondInput.clone(~0u);
    TDRFilter<CpuFiltering>().process(fresh, secondGuide, 4.0f, 0.3f);
    EXPECT_TRUE(sameBits(contents(second), contents(fresh)));

    // Another size: all three are re-made at that size.
    CpuTexture third = randomTexture(7, 30, 1, 44);
    ASSERT_TRUE(filter.process(third, randomTexture(7, 30, 1, 45), 6.0f, 0.2f));
    EXPECT_TRUE(filter.getHorizontalDistances().hasSize(7, 30, 1));
    EXPECT_TRUE(filter.getVerticalDistances().hasSize(7, 30, 1));
    EXPECT_TRUE(filter.getCoefficients().hasSize(7, 30, 1));
    ReferenceTdr reference;
    CpuTexture expected = randomTexture(7, 30, 1, 44);
    reference.process(expected, randomTexture(7, 30, 1, 45), 6.0f, 0.2f);
    EXPECT_TRUE(sameBits(contents(third), contents(expected)));
}

}  // namespace
}  // namespace quendel
