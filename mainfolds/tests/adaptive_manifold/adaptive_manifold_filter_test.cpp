#include "quendel/adaptive_manifold_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "adaptive_manifold/plain_manifold_filter.h"
#include "foundations/test_textures.h"
#include "quendel/source_vector.h"
#include "quendel/tdr_filter.h"
#include "quendel/threads.h"

namespace quendel {
namespace {

// The plain run of every step, smoothing with the host's TDR filter.
test::PlainManifoldFilter plainFilter() {
    return test::PlainManifoldFilter(
        [](CpuTexture& image, const CpuTexture& guide, float sigmaS, float g) {
            TDRFilter<CpuFiltering>().process(image, guide, sigmaS, g);
        });
}

using test::randomTexture;
using test::sameBits;
using test::sourceWithGuide;

CpuTexture filtered(AdaptiveManifoldFilter<CpuFiltering>& filter,
                    SourceVector<CpuFiltering>& source, int maxDepth, unsigned seed = 7) {
    CpuTexture output(nullptr, source.base.getWidth(), source.base.getHeight(),
                      source.base.getChannelsCount(), true);
    std::srand(seed);
    EXPECT_TRUE(filter.process(&output, source, maxDepth));
    return output;
}

// How many rand() values were drawn since srand(seed).
int drawsSince(unsigned seed, int next) {
    std::srand(seed);
    for (int count = 0; count < 100000; ++count) {
        if (std::rand() == next) {
            return count;
        }
    }
    return -1;
}

class ThreadTeam : public ::testing::Test {
  protected:
    void TearDown() override { setThreadCount(kDefaultThreadCount); }
};

using AdaptiveManifoldFilterTest = ThreadTeam;

TEST_F(AdaptiveManifoldFilterTest, NullOutputDoesNothingAndLeavesTheGuideUnbuilt) {
    SourceVector<CpuFiltering> source(randomTexture(8, 6, 3, 1));
    source.sigmaS = 8.0f;
    source.sigmaR = 0.3f;
    AdaptiveManifoldFilter<CpuFiltering> filter;
    EXPECT_FALSE(filter.process(nullptr, source, 1));
    EXPECT_FALSE(source.built);
    EXPECT_EQ(source.features.getChannelsCount(), 0u);
}

TEST_F(AdaptiveManifoldFilterTest, BuildsTheGuideWhenItIsMissing) {
    const CpuTexture image = randomTexture(12, 9, 3, 2);
    SourceVector<CpuFiltering> source(image);
    source.sigmaS = 8.0f;
    source.sigmaR = 0.3f;
    AdaptiveManifoldFilter<CpuFiltering> filter;
    const CpuTexture output = filtered(filter, source, 0);
    EXPECT_TRUE(source.built);
    EXPECT_EQ(source.features.getChannelsCount(), 9u);  // six patch channels and the image

    SourceVector<CpuFiltering> again(image);
    again.sigmaS = 8.0f;
    again.sigmaR = 0.3f;
    test::PlainManifoldFilter reference = plainFilter();
    std::srand(7);
    EXPECT_TRUE(sameBits(output, reference.run(again, 0)));
}

TEST_F(AdaptiveManifoldFilterTest, OutputOfAnotherSizeIsLeftUntouched) {
    SourceVector<CpuFiltering> source =
        sourceWithGuide(randomTexture(10, 8, 3, 3), randomTexture(10, 8, 4, 4), 8.0f, 0.3f);
    AdaptiveManifoldFilter<CpuFiltering> filter;
    for (CpuTexture wrong :
         {CpuTexture(nullptr, 10, 7, 3, true), CpuTexture(nullptr, 10, 8, 2, true),
          CpuTexture(nullptr, 0, 0, 0, true)}) {
        for (unsigned c = 0; c < wrong.getChannelsCount(); ++c) {
            std::fill_n(wrong.getChannel(c), wrong.getPixelsCount(), -5.0f);
        }
        const CpuTexture before = wrong.clone(0xffffffffu);
        EXPECT_TRUE(filter.process(&wrong, source, 0));
        EXPECT_TRUE(sameBits(wrong, before));
    }
}

TEST_F(AdaptiveManifoldFilterTest, GuideOfAnotherSizeWritesNothing) {
    SourceVector<CpuFiltering> source =
        sourceWithGuide(randomTexture(10, 8, 3, 3), randomTexture(8, 10, 4, 4), 8.0f, 0.3f);
    CpuTexture output(nullptr, 10, 8, 3, true);
    AdaptiveManifoldFilter<CpuFiltering> filter;
    EXPECT_TRUE(filter.process(&output, source, 0));
    EXPECT_TRUE(sameBits(output, CpuTexture(nullptr, 10, 8, 3, true)));
}

TEST_F(AdaptiveManifoldFilterTest, NegativeDepthIsTheRootAloneAndDrawsNothing) {
    const unsigned width = 16, height = 11;
    const CpuTexture image = randomTexture(width, height, 3, 5);
    const CpuTexture guide = randomTexture(width, height, 5, 6);
    const float sigmaS = 8.0f, sigmaR = 0.4f;
    SourceVector<CpuFiltering> source = sourceWithGuide(image, guide, sigmaS, sigmaR);
    AdaptiveManifoldFilter<CpuFiltering> filter;
    const CpuTexture output = filtered(filter, source, -1, 11);
    EXPECT_EQ(drawsSince(11, std::rand()), 0);

    // The root alone: its smoothed values over its smoothed weights.
    CpuTexture manifold = guide.clone(0xffffffffu);
    horizontalHPass(manifold, sigmaS);
    verticalHPass(manifold, sigmaS);
    const float g = sigmaR / std::sqrt(2.0f);
    CpuTexture weights(nullptr, width, height, 1, true);
    for (unsigned p = 0; p < width * height; ++p) {
        float d = 0.0f;
        for (unsigned c = 0; c < 5; ++c) {
            const float diff = guide.getChannel(c)[p] - manifold.getChannel(c)[p];
            d += diff * diff;
        }
        weights.getChannel(0)[p] = std::exp(d * (-2.0f * g * g));
    }
    CpuTexture values(nullptr, width, height, 3, true);
    for (unsigned c = 0; c < 3; ++c) {
        for (unsigned p = 0; p < width * height; ++p) {
            values.getChannel(c)[p] = image.getChannel(c)[p] * weights.getChannel(0)[p];
        }
    }
    CpuTexture smoothedWeights = weights.clone(1);
    TDRFilter<CpuFiltering> tdr;
    tdr.process(values, guide, sigmaS, g);
    tdr.process(smoothedWeights, guide, sigmaS, g);
    for (unsigned c = 0; c < 3; ++c) {
        for (unsigned p = 0; p < width * height; ++p) {
            const float w = weights.getChannel(0)[p];
            const float expected =
                (w * values.getChannel(c)[p]) / (w * smoothedWeights.getChannel(0)[p]);
            ASSERT_EQ(output.getChannel(c)[p], expected) << "channel " << c << " pixel " << p;
        }
    }
}

TEST_F(AdaptiveManifoldFilterTest, EveryInnerNodeDrawsOneStartDirection) {
    const unsigned guideChannels = 5;
    SourceVector<CpuFiltering> source = sourceWithGuide(
        randomTexture(12, 10, 3, 8), randomTexture(12, 10, guideChannels, 9), 8.0f, 0.3f);
    AdaptiveManifoldFilter<CpuFiltering> filter;
    // Inner nodes: 1 at depth limit 0 (three nodes), 3 at 1 (seven), 7 at 2.
    for (int maxDepth : {0, 1, 2}) {
        filtered(filter, source, maxDepth, 21);
        const int innerNodes = (1 << (maxDepth + 1)) - 1;
        EXPECT_EQ(drawsSince(21, std::rand()), innerNodes * static_cast<int>(guideChannels))
            << "depth limit " << maxDepth;
    }
}

TEST_F(AdaptiveManifoldFilterTest, MatchesAPlainRunOfEveryStep) {
    struct Case {
        unsigned width, height, channels, guideChannels;
        float sigmaS, sigmaR;
        int maxDepth;
    };
    const Case cases[] = {
        {23, 17, 3, 5, 8.0f, 0.3f, -1}, {23, 17, 3, 5, 8.0f, 0.3f, 0},
        {23, 17, 3, 5, 8.0f, 0.3f, 1},  {31, 9, 1, 3, 16.0f, 0.05f, 1},
        {19, 26, 2, 9, 20.0f, 0.2f, 2}, {12, 12, 3, 16, 2.0f, 0.002f, 1},
        {14, 9, 2, 0, 8.0f, 0.3f, 1},  // a guide without channels: every weight is 1
    };
    unsigned seed = 100;
    for (const Case& c : cases) {
        const CpuTexture image = randomTexture(c.width, c.height, c.channels, ++seed);
        const CpuTexture guide = randomTexture(c.width, c.height, c.guideChannels, ++seed);
        SourceVector<CpuFiltering> source = sourceWithGuide(image, guide, c.sigmaS, c.sigmaR);
        AdaptiveManifoldFilter<CpuFiltering> filter;
        const CpuTexture output = filtered(filter, source, c.maxDepth, seed);
        test::PlainManifoldFilter reference = plainFilter();
        std::srand(seed);
        const CpuTexture expected = reference.run(source, c.maxDepth);
        EXPECT_TRUE(sameBits(output, expected))
            << c.width << "x" << c.height << "x" << c.channels << " guide " << c.guideChannels
            << " sigmas " << c.sigmaS << "/" << c.sigmaR << " depth " << c.maxDepth;
    }
}

TEST_F(AdaptiveManifoldFilterTest, CallsDoNotCarryStateIntoEachOther) {
    const CpuTexture guide = randomTexture(20, 14, 6, 30);
    SourceVector<CpuFiltering> first =
        sourceWithGuide(randomTexture(20, 14, 3, 31), guide, 8.0f, 0.3f);
    SourceVector<CpuFiltering> second =
        sourceWithGuide(randomTexture(20, 14, 3, 32), randomTexture(20, 14, 6, 33), 8.0f, 0.3f);
    AdaptiveManifoldFilter<CpuFiltering> filter;
    const CpuTexture once = filtered(filter, first, 1);
    const CpuTexture other = filtered(filter, second, 1);
    const CpuTexture again = filtered(filter, first, 1);
    EXPECT_TRUE(sameBits(once, again));

    AdaptiveManifoldFilter<CpuFiltering> fresh;
    EXPECT_TRUE(sameBits(other, filtered(fresh, second, 1)));
    EXPECT_FALSE(sameBits(once, other));
}

TEST_F(AdaptiveManifoldFilterTest, ServesImagesOfChangingSize) {
    AdaptiveManifoldFilter<CpuFiltering> filter;
    for (unsigned size : {9u, 14u, 9u}) {
        SourceVector<CpuFiltering> source =
            sourceWithGuide(randomTexture(size, size + 3, 2, size),
                            randomTexture(size, size + 3, 4, size + 1), 8.0f, 0.3f);
        const CpuTexture output = filtered(filter, source, 1);
        test::PlainManifoldFilter reference = plainFilter();
        std::srand(7);
        EXPECT_TRUE(sameBits(output, reference.run(source, 1))) << size;
    }
}

TEST_F(AdaptiveManifoldFilterTest, ResultDoesNotDependOnTheTeamSize) {
    SourceVector<CpuFiltering> source =
        sourceWithGuide(randomTexture(67, 45, 3, 40), randomTexture(67, 45, 7, 41), 12.0f, 0.25f);
    AdaptiveManifoldFilter<CpuFiltering> filter;
    setThreadCount(1);
    const CpuTexture single = filtered(filter, source, 1);
    for (int team : {2, 3, 4}) {
        setThreadCount(team);
        EXPECT_TRUE(sameBits(single, filtered(filter, source, 1))) << team << " threads";
    }
}

TEST_F(AdaptiveManifoldFilterTest, SmoothsWithinRegionsAndKeepsTheirEdge) {
    // Two flat halves under noise, the guide being the clean image.
    const unsigned width = 40, height = 24;
    CpuTexture guide(nullptr, width, height, 3, true);
    CpuTexture image = randomTexture(width, height, 3, 50);
    for (unsigned c = 0; c < 3; ++c) {
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                const float level = x < width / 2 ? 0.1f : 0.9f;
                guide.getChannel(c)[y * width + x] = level;
                image.getChannel(c)[y * width + x] =
                    level + 0.1f * (image.getChannel(c)[y * width + x] - 0.5f);
            }
        }
    }
    SourceVector<CpuFiltering> source = sourceWithGuide(image, guide, 8.0f, 0.1f);
    AdaptiveManifoldFilter<CpuFiltering> filter;
    const CpuTexture output = filtered(filter, source, 1);
    for (unsigned c = 0; c < 3; ++c) {
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                const float level = x < width / 2 ? 0.1f : 0.9f;
                EXPECT_NEAR(output.getChannel(c)[y * width + x], level, 0.03f)
                    << x << "," << y << " channel " << c;
            }
        }
    }
}

}  // namespace
}  // namespace quendel
