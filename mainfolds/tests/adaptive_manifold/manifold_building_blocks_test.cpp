#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "adaptive_manifold/bilinear_samples.h"
#include "adaptive_manifold/child_manifold.h"
#include "adaptive_manifold/manifold_tree.h"
#include "foundations/test_textures.h"
#include "host_filters/fixed_guide_smoothing.h"
#include "quendel/tdr_filter.h"
#include "quendel/threads.h"

namespace quendel {
namespace {

CpuTexture randomTexture(unsigned width, unsigned height, unsigned channels, unsigned seed) {
    return test::randomTexture(width, height, channels, seed, -1.0f, 2.0f);
}

bool samePlane(const float* a, const float* b, std::size_t count) {
    return std::memcmp(a, b, count * sizeof(float)) == 0;
}

// Vertical blend first, then horizontal, through the samples.
std::vector<float> resampleThroughSamples(const CpuTexture& source, unsigned width,
                                          unsigned height) {
    const AxisSamples rows = axisSamples(source.getHeight(), height);
    const AxisSamples columns = axisSamples(source.getWidth(), width);
    const float* s = source.getChannel(0);
    const unsigned stride = source.getWidth();
    std::vector<float> out(static_cast<std::size_t>(width) * height);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            auto at = [&](unsigned row, unsigned column) { return s[row * stride + column]; };
            const float left = blend(at(rows.first[y], columns.first[x]),
                                     at(rows.second[y], columns.first[x]), rows.fraction[y]);
            const float right = blend(at(rows.first[y], columns.second[x]),
                                      at(rows.second[y], columns.second[x]), rows.fraction[y]);
            out[y * width + x] = blend(left, right, columns.fraction[x]);
        }
    }
    return out;
}

TEST(BilinearSamples, ResampleWithTheBitsOfTheTextureScaler) {
    const std::pair<unsigned, unsigned> sizes[] = {{1024, 256}, {256, 1024}, {1000, 250},
                                                   {250, 1000}, {37, 9},     {9, 37},
                                                   {5, 5},      {1, 7},      {7, 1}};
    unsigned seed = 0;
    for (const auto& [from, to] : sizes) {
        const CpuTexture source = randomTexture(from, from / 2 + 1, 1, ++seed);
        CpuTexture target(nullptr, to, to / 3 + 1, 1, true);
        source.bilinearScaleTo(target);
        const std::vector<float> ours =
            resampleThroughSamples(source, target.getWidth(), target.getHeight());
        EXPECT_TRUE(samePlane(ours.data(), target.getChannel(0), ours.size()))
            << from << " -> " << to;
    }
}

TEST(BilinearSamples, StayInsideTheSource) {
    for (unsigned source : {1u, 2u, 3u, 100u}) {
        for (unsigned target : {1u, 4u, 7u, 250u}) {
            const AxisSamples samples = axisSamples(source, target);
            for (unsigned i = 0; i < target; ++i) {
                EXPECT_LT(samples.first[i], source);
                EXPECT_LT(samples.second[i], source);
                EXPECT_GE(samples.fraction[i], 0.0f);
                EXPECT_LT(samples.fraction[i], 1.0f);
            }
        }
    }
}

class FixedGuideSmoothingTest : public ::testing::Test {
  protected:
    void TearDown() override { setThreadCount(kDefaultThreadCount); }
};

TEST_F(FixedGuideSmoothingTest, GivesTheBitsOfTheFilterForEveryImageUnderTheSameGuide) {
    struct Case {
        unsigned width, height, guideChannels, imageChannels;
        float sigmaS, sigmaR;
    };
    const Case cases[] = {{64, 48, 3, 4, 16.0f, 0.14f},
                          {33, 70, 16, 2, 8.0f, 0.5f},
                          {1, 20, 2, 1, 4.0f, 0.1f},
                          {20, 1, 2, 3, 4.0f, 0.1f},
                          {17, 13, 0, 2, 6.0f, 0.3f}};
    unsigned seed = 10;
    for (const Case& c : cases) {
        const CpuTexture guide = randomTexture(c.width, c.height, c.guideChannels, ++seed);
        FixedGuideSmoothing smoothing;
        smoothing.prepare(guide, c.sigmaS, c.sigmaR);
        TDRFilter<CpuFiltering> filter;
        for (int team : {1, 3}) {
            setThreadCount(team);
            for (int image = 0; image < 2; ++image) {
                const CpuTexture input = randomTexture(c.width, c.height, c.imageChannels, ++seed);
                CpuTexture expected = input.clone(0xffffffffu);
                CpuTexture ours = input.clone(0xffffffffu);
                ASSERT_TRUE(filter.process(expected, guide, c.sigmaS, c.sigmaR));
                ASSERT_TRUE(smoothing.smooth(ours));
                for (unsigned ch = 0; ch < c.imageChannels; ++ch) {
                    EXPECT_TRUE(samePlane(ours.getChannel(ch), expected.getChannel(ch),
                                          input.getPixelsCount()))
                        << c.width << "x" << c.height << " guide " << c.guideChannels << " team "
                        << team << " channel " << ch;
                }
            }
        }
    }
}

TEST_F(FixedGuideSmoothingTest, RefusesAnImageOfAnotherSizeAndFollowsANewGuide) {
    FixedGuideSmoothing smoothing;
    smoothing.prepare(randomTexture(20, 10, 3, 1), 8.0f, 0.2f);
    CpuTexture wrong = randomTexture(10, 20, 2, 2);
    const CpuTexture before = wrong.clone(0xffffffffu);
    EXPECT_FALSE(smoothing.smooth(wrong));
    EXPECT_TRUE(samePlane(wrong.getChannel(0), before.getChannel(0), 200));
    EXPECT_TRUE(samePlane(wrong.getChannel(1), before.getChannel(1), 200));

    const CpuTexture guide = randomTexture(10, 20, 5, 3);
    smoothing.prepare(guide, 4.0f, 0.3f);
    CpuTexture expected = before.clone(0xffffffffu);
    TDRFilter<CpuFiltering>().process(expected, guide, 4.0f, 0.3f);
    EXPECT_TRUE(smoothing.smooth(wrong));
    EXPECT_TRUE(samePlane(wrong.getChannel(1), expected.getChannel(1), 200));
}

// Rows handed in through the stages and taken back out give what filling the
// image first and reading it after gives, each row entering and leaving once
// per plane, whether the team fuses the passes (it can share the planes out)
// or runs them one after another.
TEST_F(FixedGuideSmoothingTest, StagesFeedAndTakeEveryRowOnceWithTheSameBits) {
    struct Case {
        unsigned width, height, planes;
    };
    const Case cases[] = {{37, 29, 4}, {37, 29, 1}, {16, 1, 2}, {1, 9, 5}, {40, 70, 3}};
    unsigned seed = 40;
    for (const Case& c : cases) {
        const CpuTexture guide = randomTexture(c.width, c.height, 3, ++seed);
        const CpuTexture input = randomTexture(c.width, c.height, c.planes, ++seed);
        FixedGuideSmoothing smoothing;
        smoothing.prepare(guide, 6.0f, 0.25f);
        CpuTexture expected = input.clone(0xffffffffu);
        ASSERT_TRUE(smoothing.smooth(expected));
        for (int team : {1, 2, 3}) {
            setThreadCount(team);
            const std::size_t rows = std::size_t{c.planes} * c.height;
            std::vector<int> entered(rows, 0), left(rows, 0);
            CpuTexture image(nullptr, c.width, c.height, c.planes, true);
            CpuTexture taken(nullptr, c.width, c.height, c.planes, true);
            RowStages stages;
            stages.enter = [&](unsigned plane, unsigned first, unsigned last) {
                for (unsigned y = first; y < last; ++y) {
                    ++entered[std::size_t{plane} * c.height + y];
                    std::memcpy(image.getChannel(plane) + y * c.width,
                                input.getChannel(plane) + y * c.width, c.width * sizeof(float));
                }
            };
            stages.leave = [&](unsigned plane, unsigned y, const float* row) {
                ++left[std::size_t{plane} * c.height + y];
                std::memcpy(taken.getChannel(plane) + y * c.width, row, c.width * sizeof(float));
            };
            ASSERT_TRUE(smoothing.smooth(image, stages));
            EXPECT_EQ(entered, std::vector<int>(rows, 1)) << c.width << "x" << c.height;
            EXPECT_EQ(left, std::vector<int>(rows, 1)) << c.width << "x" << c.height;
            for (unsigned p = 0; p < c.planes; ++p) {
                EXPECT_TRUE(
                    samePlane(taken.getChannel(p), expected.getChannel(p), input.getPixelsCount()))
                    << c.width << "x" << c.height << " planes " << c.planes << " team " << team
                    << " plane " << p;
            }
        }
    }
}

TEST(ChildManifoldFullSize, MasksAndDividesWithTheClampedDenominator) {
    // sigmaS = 0 keeps the smoothing at full size, where a deviation of 0
    // leaves the planes as they are: the manifold is the masked guide over
    // the clamped mask.
    const unsigned width = 7, height = 5;
    const CpuTexture features = randomTexture(width, height, 3, 4);
    std::vector<float> weights(width * height);
    for (unsigned p = 0; p < weights.size(); ++p) {
        weights[p] = p % 5 == 0 ? 1.0f : 0.1f * static_cast<float>(p % 9);
    }
    PixelList cluster;
    for (unsigned p = 0; p < width * height; p += 2) {
        cluster.push_back({static_cast<int>(p % width), static_cast<int>(p / width)});
    }
    CpuTexture manifold = randomTexture(width, height, 3, 5);
    CpuTexture distance = randomTexture(width, height, 3, 6);
    ChildManifoldBuilder builder([](CpuTexture&, float) {});
    builder.build(cluster, weights.data(), features, 0.0f, 0.3f, manifold);
    builder.build(cluster, weights.data(), features, 0.0f, 0.3f, distance,
                  ChildManifoldBuilder::Output::DistanceToGuide);
    for (unsigned c = 0; c < 3; ++c) {
        for (unsigned p = 0; p < width * height; ++p) {
            const float m = p % 2 == 0 ? 1.0f - weights[p] : 0.0f;
            const float numerator = p % 2 == 0 ? m * features.getChannel(c)[p] : 0.0f;
            const float expected = numerator / (m > 0.000001f ? m : 0.000001f);
            EXPECT_EQ(manifold.getChannel(c)[p], expected) << c << " " << p;
            EXPECT_EQ(distance.getChannel(c)[p], features.getChannel(c)[p] - expected)
                << c << " " << p;
        }
    }
}

TEST(ChildManifoldFullSize, SmoothsTheMaskedPlanesWithTheFullSigma) {
    const CpuTexture features = randomTexture(6, 4, 2, 6);
    const std::vector<float> weights(24, 0.5f);
    std::vector<std::pair<unsigned, float>> calls;
    ChildManifoldBuilder builder([&](CpuTexture& planes, float sigma) {
        calls.emplace_back(planes.getChannelsCount(), sigma);
    });
    CpuTexture manifold = features.clone(0xffffffffu);
    builder.build(rootPixelList(6, 4), weights.data(), features, -3.0f, 0.3f, manifold);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, 3u);  // two guide channels and one shared denominator
    EXPECT_EQ(calls[0].second, -3.0f);
}

}  // namespace
}  // namespace quendel
