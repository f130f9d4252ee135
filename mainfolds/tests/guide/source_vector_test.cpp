#include "quendel/source_vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "foundations/test_textures.h"
#include "guide/guide_reference.h"
#include "quendel/threads.h"

namespace quendel {

struct SourceVectorTestAccess {
    static CpuTexture nonLocalMeans(const CpuTexture& source, int radius, int dimensions) {
        return SourceVector<CpuFiltering>::toNonLocalMeansSpace(source, radius, dimensions);
    }
    static void divide(CpuTexture& texture, float factor) {
        SourceVector<CpuFiltering>::multiplyTexture(texture, factor);
    }
};

}  // namespace quendel

using quendel::CpuTexture;
using Access = quendel::SourceVectorTestAccess;
using Guide = quendel::SourceVector<quendel::CpuFiltering>;

namespace {

using quendel::test::randomTexture;

std::vector<float> planeOf(const CpuTexture& texture, unsigned channel) {
    const float* plane = texture.getChannel(channel);
    return {plane, plane + texture.getPixelsCount()};
}

std::vector<float> dividedPlane(const CpuTexture& texture, unsigned channel, float divisor) {
    std::vector<float> plane = planeOf(texture, channel);
    for (float& v : plane) v = v / divisor;
    return plane;
}

bool allFinite(const CpuTexture& texture) {
    for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
        for (float v : planeOf(texture, c)) {
            if (!std::isfinite(v)) return false;
        }
    }
    return true;
}

// The guide the console pipeline builds: base, normals 0.5, a one-channel
// distance 0.4, texture colour 1.0.
struct PipelineInputs {
    CpuTexture base = randomTexture(11, 7, 3, 1);
    CpuTexture normals = randomTexture(11, 7, 3, 2);
    CpuTexture distance = randomTexture(11, 7, 1, 3);
    CpuTexture colour = randomTexture(11, 7, 3, 4);

    Guide guide(float nlmScale, float sourceScale) const {
        Guide result(base);
        result.nlmScale = nlmScale;
        result.sourceScale = sourceScale;
        result.addSource(normals, 0.5f, -1);
        result.addSource(distance, 0.4f, -1);
        result.addSource(colour, 1.0f, -1);
        return result;
    }
};

}  // namespace

TEST(SourceVectorSetup, BaseIsSharedAndIsTheFirstSource) {
    const CpuTexture image = randomTexture(4, 3, 3, 9);
    Guide guide(image);
    EXPECT_FALSE(guide.built);
    EXPECT_EQ(guide.base.getChannel(1), image.getChannel(1));
    EXPECT_EQ(guide.features.getChannelsCount(), 0u);
    ASSERT_EQ(guide.sources.size(), 1u);
    EXPECT_EQ(guide.sources[0].texture.getChannel(2), image.getChannel(2));
    EXPECT_EQ(guide.sources[0].channels, 3);
    EXPECT_EQ(guide.sources[0].weight, 1.0f);
}

TEST(SourceVectorSetup, AddSourceClampsTheChannelCount) {
    const CpuTexture three = randomTexture(4, 3, 3, 9);
    Guide guide(three);
    guide.addSource(three, 0.5f, -1);
    guide.addSource(three, 0.5f, -7);
    guide.addSource(three, 0.5f, 5);
    guide.addSource(three, 0.5f, 2);
    guide.addSource(three, 0.5f, 0);
    ASSERT_EQ(guide.sources.size(), 6u);
    EXPECT_EQ(guide.sources[1].channels, 3);
    EXPECT_EQ(guide.sources[2].channels, 3);
    EXPECT_EQ(guide.sources[3].channels, 3);
    EXPECT_EQ(guide.sources[4].channels, 2);
    EXPECT_EQ(guide.sources[5].channels, 0);
    EXPECT_EQ(guide.sources[4].texture.getChannel(0), three.getChannel(0));
    EXPECT_EQ(guide.sources[4].weight, 0.5f);
}

TEST(SourceVectorBuild, PatchChannelsThenEachSourceDividedByItsWeight) {
    const PipelineInputs in;
    Guide guide = in.guide(10.0f, 1.0f);
    guide.build();
    EXPECT_TRUE(guide.built);
    ASSERT_TRUE(guide.features.hasSize(11, 7, 16));

    const CpuTexture patches = Access::nonLocalMeans(in.base, 1, 6);
    for (unsigned c = 0; c < 6; ++c)
        EXPECT_EQ(planeOf(guide.features, c), dividedPlane(patches, c, 10));
    for (unsigned c = 0; c < 3; ++c) EXPECT_EQ(planeOf(guide.features, 6 + c), planeOf(in.base, c));
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_EQ(planeOf(guide.features, 9 + c), dividedPlane(in.normals, c, 0.5f));
    }
    EXPECT_EQ(planeOf(guide.features, 12), dividedPlane(in.distance, 0, 0.4f));
    for (unsigned c = 0; c < 3; ++c)
        EXPECT_EQ(planeOf(guide.features, 13 + c), planeOf(in.colour, c));
}

TEST(SourceVectorBuild, SourceScaleMultipliesEveryWeight) {
    const PipelineInputs in;
    Guide guide = in.guide(1.0f, 2.0f);
    guide.build();
    ASSERT_EQ(guide.features.getChannelsCount(), 16u);
    const CpuTexture patches = Access::nonLocalMeans(in.base, 1, 6);
    EXPECT_EQ(planeOf(guide.features, 0), planeOf(patches, 0));
    EXPECT_EQ(planeOf(guide.features, 6), dividedPlane(in.base, 0, 2.0f));
    EXPECT_EQ(planeOf(guide.features, 9), planeOf(in.normals, 0));  // 0.5 * 2 = 1
    EXPECT_EQ(planeOf(guide.features, 12), dividedPlane(in.distance, 0, 0.8f));
    EXPECT_EQ(planeOf(guide.features, 15), dividedPlane(in.colour, 2, 2.0f));
}

TEST(SourceVectorBuild, ScalesWithinATenThousandthOfOneAreNotApplied) {
    const PipelineInputs in;
    Guide guide = in.guide(1.00005f, 1.0f);
    guide.sources[1].weight = 0.99995f;
    guide.build();
    const CpuTexture patches = Access::nonLocalMeans(in.base, 1, 6);
    EXPECT_EQ(planeOf(guide.features, 5), planeOf(patches, 5));
    EXPECT_EQ(planeOf(guide.features, 9), planeOf(in.normals, 0));
}

TEST(SourceVectorBuild, LeavesTheCallersImagesAlone) {
    const PipelineInputs in;
    const std::vector<float> normalsBefore = planeOf(in.normals, 1);
    const std::vector<float> distanceBefore = planeOf(in.distance, 0);
    Guide guide = in.guide(10.0f, 1.0f);
    guide.build();
    EXPECT_EQ(planeOf(in.normals, 1), normalsBefore);
    EXPECT_EQ(planeOf(in.distance, 0), distanceBefore);
    for (unsigned c = 6; c < 16; ++c) {
        for (const CpuTexture* image : {&in.base, &in.normals, &in.distance, &in.colour}) {
            for (unsigned s = 0; s < image->getChannelsCount(); ++s) {
                EXPECT_NE(guide.features.getChannel(c), image->getChannel(s));
            }
        }
    }
}

TEST(SourceVectorBuild, PartialSourceAddsOnlyItsFirstChannels) {
    const CpuTexture base = randomTexture(6, 5, 3, 11);
    const CpuTexture rgb = randomTexture(6, 5, 3, 12);
    const std::vector<float> green = planeOf(rgb, 1), blue = planeOf(rgb, 2);
    Guide guide(base);
    guide.addSource(rgb, 0.25f, 1);
    guide.addSource(rgb, 0.5f, 0);
    guide.build();
    ASSERT_EQ(guide.features.getChannelsCount(), 6u + 3u + 1u);
    EXPECT_EQ(planeOf(guide.features, 9), dividedPlane(rgb, 0, 0.25f));
    EXPECT_EQ(planeOf(rgb, 1), green);
    EXPECT_EQ(planeOf(rgb, 2), blue);
}

TEST(SourceVectorBuild, SecondBuildChangesNothing) {
    const PipelineInputs in;
    Guide guide = in.guide(10.0f, 1.0f);
    guide.build();
    const float* firstPlane = guide.features.getChannel(0);
    const std::vector<float> firstValues = planeOf(guide.features, 0);
    guide.nlmScale = 3.0f;
    guide.addSource(in.colour, 0.1f, -1);
    guide.build();
    EXPECT_EQ(guide.features.getChannelsCount(), 16u);
    EXPECT_EQ(guide.features.getChannel(0), firstPlane);
    EXPECT_EQ(planeOf(guide.features, 0), firstValues);
}

TEST(SourceVectorBuild, TakingTheSourcesGivesTheSameGuideAndLeavesSharedPlanesAlone) {
    const PipelineInputs in;
    Guide copied = in.guide(10.0f, 1.0f);
    copied.build();

    // The normals and the colour are kept by the caller; the distance and
    // a second colour source are private copies that the guide may take.
    const std::vector<float> normals = planeOf(in.normals, 0), colour = planeOf(in.colour, 2);
    Guide taking(in.base);
    taking.nlmScale = 10.0f;
    taking.addSource(in.normals, 0.5f, -1);
    taking.addSource(in.distance.clone(0xFFFFFFFFu), 0.4f, -1);
    taking.addSource(in.colour, 1.0f, -1);
    const float* privateDistance = taking.sources[2].texture.getChannel(0);
    taking.addSource(in.colour.clone(0xFFFFFFFFu), 0.25f, 2);
    const float* privateGreen = taking.sources[4].texture.getChannel(1);
    taking.buildTakingSources();

    EXPECT_TRUE(taking.built);
    EXPECT_TRUE(taking.sources.empty());
    ASSERT_EQ(taking.features.getChannelsCount(), 18u);
    for (unsigned c = 0; c < 16; ++c) {
        EXPECT_EQ(planeOf(taking.features, c), planeOf(copied.features, c)) << "channel " << c;
    }
    EXPECT_EQ(planeOf(taking.features, 17), dividedPlane(in.colour, 1, 0.25f));
    EXPECT_EQ(taking.features.getChannel(12), privateDistance);
    EXPECT_EQ(taking.features.getChannel(17), privateGreen);
    EXPECT_NE(taking.features.getChannel(9), in.normals.getChannel(0));
    EXPECT_NE(taking.features.getChannel(6), in.base.getChannel(0));
    EXPECT_EQ(planeOf(in.normals, 0), normals);
    EXPECT_EQ(planeOf(in.colour, 2), colour);
    EXPECT_EQ(planeOf(taking.base, 1), planeOf(in.base, 1));
}

TEST(NonLocalMeans, MatchesTheStoredPlaneBuildBitForBit) {
    struct Case {
        unsigned w, h, channels;
        int radius, dimensions;
    };
    const Case cases[] = {{13, 7, 3, 1, 6}, {300, 3, 3, 1, 6}, {7, 5, 1, 1, 9}, {9, 6, 2, 2, 4}};
    for (const Case& c : cases) {
        const CpuTexture image = randomTexture(c.w, c.h, c.channels, c.w * 31 + c.h);
        const auto expected = guide_reference::nonLocalMeans(image, c.radius, c.dimensions);
        for (int team : {1, 4, 5}) {
            quendel::setThreadCount(team);
            const CpuTexture guide = Access::nonLocalMeans(image, c.radius, c.dimensions);
            ASSERT_TRUE(guide.hasSize(c.w, c.h, static_cast<unsigned>(c.dimensions)));
            for (unsigned j = 0; j < guide.getChannelsCount(); ++j) {
                EXPECT_EQ(std::memcmp(guide.getChannel(j), expected[j].data(),
                                      expected[j].size() * sizeof(float)),
                          0)
                    << c.w << "x" << c.h << " channel " << j << " team " << team;
            }
        }
    }
    quendel::setThreadCount(quendel::kDefaultThreadCount);
}

TEST(NonLocalMeans, DimensionsOutOfRangeGiveEveryComponent) {
    const CpuTexture image = randomTexture(5, 4, 3, 21);
    EXPECT_EQ(Access::nonLocalMeans(image, 1, 0).getChannelsCount(), 27u);
    EXPECT_EQ(Access::nonLocalMeans(image, 1, -3).getChannelsCount(), 27u);
    EXPECT_EQ(Access::nonLocalMeans(image, 1, 28).getChannelsCount(), 27u);
    EXPECT_EQ(Access::nonLocalMeans(image, 1, 27).getChannelsCount(), 27u);
    EXPECT_EQ(Access::nonLocalMeans(image, 2, 0).getChannelsCount(), 75u);
    EXPECT_EQ(Access::nonLocalMeans(image, 0, 0).getChannelsCount(), 27u);
    EXPECT_TRUE(allFinite(Access::nonLocalMeans(image, 0, 6)));
}

TEST(NonLocalMeans, ImagesWithoutPixelsOrChannelsGiveEmptyGuides) {
    const CpuTexture noColumns(nullptr, 0, 5, 3, true);
    const CpuTexture guide = Access::nonLocalMeans(noColumns, 1, 6);
    EXPECT_TRUE(guide.hasSize(0, 5, 6));

    Guide noChannels(CpuTexture(nullptr, 4, 4, 0, true));
    noChannels.addSource(randomTexture(4, 4, 2, 8), 0.5f, -1);
    noChannels.build();
    ASSERT_TRUE(noChannels.features.hasSize(4, 4, 2));
    EXPECT_TRUE(allFinite(noChannels.features));
}

TEST(NonLocalMeans, ConstantAndBlackImagesGiveZeroPatchChannelsAndAFiniteGuide) {
    const std::vector<float> grey(8 * 6 * 3, 0.3f);
    for (const CpuTexture& image :
         {CpuTexture(grey.data(), 8, 6, 3, false), CpuTexture(nullptr, 8, 6, 3, true)}) {
        Guide guide(image);
        guide.nlmScale = 10.0f;
        guide.addSource(image, 0.5f, -1);
        guide.build();
        ASSERT_EQ(guide.features.getChannelsCount(), 12u);
        EXPECT_TRUE(allFinite(guide.features));
        for (unsigned c = 0; c < 6; ++c) {
            for (float v : planeOf(guide.features, c)) ASSERT_EQ(v, 0.0f);
        }
    }
}

TEST(NonLocalMeans, AConstantChannelKeepsTheGuideFinite) {
    // The constant channel's nine features are zero: their directions have
    // no length, and the smallest six components project onto them.
    CpuTexture image = randomTexture(9, 8, 3, 33);
    std::fill(image.getChannel(1), image.getChannel(1) + image.getPixelsCount(), 0.0f);
    const CpuTexture guide = Access::nonLocalMeans(image, 1, 0);
    ASSERT_EQ(guide.getChannelsCount(), 27u);
    EXPECT_TRUE(allFinite(guide));
    float largest = 0;
    for (unsigned c = 0; c < 27; ++c) {
        for (float v : planeOf(guide, c)) largest = std::max(largest, std::fabs(v));
    }
    EXPECT_GT(largest, 0.1f);
}

TEST(MultiplyTexture, DividesEveryValueInPlace) {
    const float data[] = {1, -2, 3, 4, 0.5f, 6};
    CpuTexture texture(data, 3, 1, 2, false);
    const CpuTexture shared = texture;
    Access::divide(texture, 2.0f);
    EXPECT_EQ(planeOf(shared, 0), (std::vector<float>{0.5f, -1, 1.5f}));
    EXPECT_EQ(planeOf(shared, 1), (std::vector<float>{2, 0.25f, 3}));
    Access::divide(texture, 3.0f);
    EXPECT_EQ(planeOf(texture, 0)[0], 0.5f / 3.0f);
}

TEST(NonLocalMeans, ProportionalChannelsKeepTheComponentsBounded) {
    // A grey scene: every channel a multiple of the first. The scatter
    // matrix has rank 9 of 27; the directions it lacks must not turn into
    // arbitrary, ever-growing vectors.
    CpuTexture image = randomTexture(16, 12, 3, 7);
    for (unsigned p = 0; p < image.getPixelsCount(); ++p) {
        image.getChannel(1)[p] = 0.5f * image.getChannel(0)[p];
        image.getChannel(2)[p] = 2.0f * image.getChannel(0)[p];
    }
    const CpuTexture guide = Access::nonLocalMeans(image, 1, 6);
    ASSERT_EQ(guide.getChannelsCount(), 6u);
    // A unit direction cannot give a projection larger than the patch's own
    // length: 27 features, each at most 2 in size here.
    const float bound = 2.0f * std::sqrt(27.0f);
    for (unsigned c = 0; c < 6; ++c) {
        for (float v : planeOf(guide, c)) ASSERT_LE(std::fabs(v), bound) << "channel " << c;
    }
}
