#include "adaptive_manifold/manifold_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "adaptive_manifold/child_manifold.h"
#include "host_filters/h_filter.h"
#include "quendel/threads.h"

namespace quendel {
namespace {

std::vector<float> randomValues(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> values(count);
    for (float& v : values) {
        v = value(generator);
    }
    return values;
}

TEST(ManifoldTree, RootListRunsRowAfterRow) {
    const PixelList list = rootPixelList(3, 2);
    ASSERT_EQ(list.size(), 6u);
    const int expected[6][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(list[i].x, expected[i][0]);
        EXPECT_EQ(list[i].y, expected[i][1]);
    }
    EXPECT_TRUE(rootPixelList(0, 5).empty());
}

TEST(ManifoldTree, StartDirectionTakesTheLastSixDigitsOfRandOverOneHundredThousand) {
    std::srand(3);
    std::vector<int> draws(4);
    for (int& draw : draws) {
        draw = std::rand();
    }
    std::srand(3);
    const std::vector<float> direction = startDirection(4);
    ASSERT_EQ(direction.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(direction[i], static_cast<float>(draws[i] % 1000000) / 100000.0f);
        EXPECT_GE(direction[i], 0.0f);
        EXPECT_LT(direction[i], 10.0f);
    }
}

TEST(ManifoldTree, RefinementFindsTheMainAxisOfTheResiduals) {
    // Residuals spread along (3, 4, 0) / 5 with a little noise across it.
    const std::size_t pixels = 500;
    std::vector<float> residuals(pixels * 3);
    const std::vector<float> along = randomValues(pixels, 1);
    const std::vector<float> across = randomValues(pixels, 2);
    for (std::size_t p = 0; p < pixels; ++p) {
        residuals[p * 3 + 0] = along[p] * 0.6f;
        residuals[p * 3 + 1] = along[p] * 0.8f;
        residuals[p * 3 + 2] = across[p] * 0.05f;
    }
    std::vector<float> direction = {0.1f, 9.0f, 2.0f};
    std::vector<float> storage;
    refineDirection(deinterleaveResiduals(residuals.data(), pixels, 3, storage), direction);
    const float sign = direction[0] < 0.0f ? -1.0f : 1.0f;
    EXPECT_NEAR(sign * direction[0], 0.6f, 1e-3f);
    EXPECT_NEAR(sign * direction[1], 0.8f, 1e-3f);
    EXPECT_NEAR(direction[2], 0.0f, 1e-3f);
}

TEST(ManifoldTree, RefinementOfZeroResidualsGivesTheZeroVector) {
    const std::vector<float> residuals(40 * 4, 0.0f);
    std::vector<float> direction = {1.0f, 2.0f, 3.0f, 4.0f};
    std::vector<float> storage;
    refineDirection(deinterleaveResiduals(residuals.data(), 40, 4, storage), direction);
    for (float value : direction) {
        EXPECT_EQ(value, 0.0f);
        EXPECT_FALSE(std::isnan(value));
    }
}

// Four rounds written out plainly: projections, sums in pixel order,
// normalisation.
std::vector<float> plainRefinement(const std::vector<float>& r, std::size_t pixels,
                                   unsigned components, std::vector<float> v) {
    for (int round = 0; round < 4; ++round) {
        std::vector<float> t(pixels, 0.0f);
        for (std::size_t p = 0; p < pixels; ++p) {
            for (unsigned i = 0; i < components; ++i) {
                t[p] += r[p * components + i] * v[i];
            }
        }
        for (unsigned j = 0; j < components; ++j) {
            v[j] = 0.0f;
            for (std::size_t p = 0; p < pixels; ++p) {
                v[j] += t[p] * r[p * components + j];
            }
        }
        float n = 0.0f;
        for (float value : v) {
            n += value * value;
        }
        n = std::sqrt(n);
        for (float& value : v) {
            value = n != 0.0f ? value / n : value;
        }
    }
    return v;
}

TEST(ManifoldTree, RefinementKeepsThePixelOrderOfItsSumsForAnyTeam) {
    for (unsigned components : {1u, 3u, 8u, 9u, 16u, 17u, 35u}) {
        const std::size_t pixels = 3001;
        const std::vector<float> r = randomValues(pixels * components, components);
        const std::vector<float> start = randomValues(components, components + 100);
        const std::vector<float> expected = plainRefinement(r, pixels, components, start);
        for (int team : {1, 3, 4}) {
            setThreadCount(team);
            std::vector<float> direction = start;
            std::vector<float> storage;
            refineDirection(deinterleaveResiduals(r.data(), pixels, components, storage),
                            direction);
            for (unsigned j = 0; j < components; ++j) {
                EXPECT_EQ(direction[j], expected[j])
                    << components << " components, team " << team << ", component " << j;
            }
        }
        setThreadCount(kDefaultThreadCount);
    }
}

TEST(ManifoldTree, SplitSendsNegativeProjectionsFirstAndKeepsListOrder) {
    const unsigned width = 4;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Pixel p = y * 4 + x.
    const PixelValues projections = {-1.0f, 2.0f, -0.0f, nan, 0.0f, -3.0f, 5.0f, -1e-30f};
    const PixelList cluster = {{3, 1}, {0, 0}, {1, 1}, {2, 0}, {3, 0}, {1, 0}, {0, 1}};
    const ClusterHalves halves = splitCluster(cluster, projections, width);
    const PixelList first = {{3, 1}, {0, 0}, {1, 1}};
    const PixelList second = {{2, 0}, {3, 0}, {1, 0}, {0, 1}};
    ASSERT_EQ(halves.first.size(), first.size());
    ASSERT_EQ(halves.second.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(halves.first[i].x, first[i].x);
        EXPECT_EQ(halves.first[i].y, first[i].y);
    }
    for (std::size_t i = 0; i < second.size(); ++i) {
        EXPECT_EQ(halves.second[i].x, second[i].x);
        EXPECT_EQ(halves.second[i].y, second[i].y);
    }
}

// The residuals of a guide against its low-passed self, as the root sees them.
std::vector<float> rootResiduals(const CpuTexture& guide, float sigma) {
    CpuTexture manifold = guide.clone(0xffffffffu);
    horizontalHPass(manifold, sigma);
    verticalHPass(manifold, sigma);
    const unsigned channels = guide.getChannelsCount();
    std::vector<float> residuals(guide.getPixelsCount() * channels);
    for (unsigned c = 0; c < channels; ++c) {
        for (unsigned p = 0; p < guide.getPixelsCount(); ++p) {
            residuals[p * channels + c] = guide.getChannel(c)[p] - manifold.getChannel(c)[p];
        }
    }
    return residuals;
}

TEST(ManifoldTree, ConstantGuideSendsEveryPixelToTheSecondChild) {
    CpuTexture guide(nullptr, 9, 7, 3, true);
    for (unsigned c = 0; c < 3; ++c) {
        std::fill_n(guide.getChannel(c), guide.getPixelsCount(), 0.25f * (c + 1));
    }
    const std::vector<float> residuals = rootResiduals(guide, 4.0f);
    const PixelList root = rootPixelList(9, 7);
    std::srand(5);
    std::vector<float> storage;
    const ClusterHalves halves =
        splitByMainDirection(root, deinterleaveResiduals(residuals.data(), 63, 3, storage), 9);
    EXPECT_TRUE(halves.first.empty());
    ASSERT_EQ(halves.second.size(), root.size());
    for (std::size_t i = 0; i < root.size(); ++i) {
        EXPECT_EQ(halves.second[i].x, root[i].x);
        EXPECT_EQ(halves.second[i].y, root[i].y);
    }
}

TEST(ManifoldTree, TwoFlatRegionsGoToDifferentChildrenAwayFromTheirBorder) {
    const unsigned width = 64, height = 20;
    CpuTexture guide(nullptr, width, height, 3, true);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            const bool left = x < width / 2;
            guide.getChannel(0)[y * width + x] = left ? 0.2f : 0.7f;
            guide.getChannel(1)[y * width + x] = left ? 0.9f : 0.1f;
            guide.getChannel(2)[y * width + x] = 0.5f;
        }
    }
    const std::vector<float> residuals = rootResiduals(guide, 4.0f);
    for (unsigned seed : {1u, 2u, 3u}) {
        std::srand(seed);
        std::vector<float> storage;
        const ClusterHalves halves = splitByMainDirection(
            rootPixelList(width, height),
            deinterleaveResiduals(residuals.data(), width * height, 3, storage), width);
        std::vector<int> side(width * height, -1);
        for (const PixelCoord& p : halves.first) {
            side[p.y * width + p.x] = 0;
        }
        for (const PixelCoord& p : halves.second) {
            side[p.y * width + p.x] = 1;
        }
        const int leftSide = side[0];
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                const bool nearBorder = x + 8 >= width / 2 && x < width / 2 + 8;
                if (!nearBorder) {
                    EXPECT_EQ(side[y * width + x], x < width / 2 ? leftSide : 1 - leftSide)
                        << x << "," << y << " seed " << seed;
                }
            }
        }
    }
}

// Records what the walk asks of a back end. Every residual is (1, 1) except
// pixel 0's, (-1, -1), so a cluster holding pixel 0 sends it alone to the
// first child, and any other cluster goes whole to the second.
struct RecordingSteps {
    unsigned width = 3;
    std::vector<float> residualValues;  // one row of two components per pixel
    std::vector<float> storage;
    std::vector<std::string> calls;
    int failAtCall = -1;

    RecordingSteps() {
        residualValues.assign(6 * 2, 1.0f);
        residualValues[0] = -1.0f;
        residualValues[1] = -1.0f;
    }
    bool record(const std::string& call) {
        calls.push_back(call);
        return static_cast<int>(calls.size()) - 1 != failAtCall;
    }
    bool filterNode(int depth) { return record("node " + std::to_string(depth)); }
    Residuals residuals() { return deinterleaveResiduals(residualValues.data(), 6, 2, storage); }
    bool makeChildManifold(const PixelList& cluster, int parentDepth) {
        return record("child " + std::to_string(cluster.size()) + " of " +
                      std::to_string(parentDepth));
    }
};

TEST(ManifoldTree, WalkIsDepthFirstFirstChildFirstAndVisitsEmptyClusters) {
    RecordingSteps steps;
    std::srand(1);
    EXPECT_TRUE(walkManifoldTree(steps, rootPixelList(3, 2), 0, 1, steps.width));
    const std::vector<std::string> expected = {
        "node 0",       "child 1 of 0", "node 1",       "child 1 of 1", "node 2",
        "child 0 of 1", "node 2",       "child 5 of 0", "node 1",       "child 0 of 1",
        "node 2",       "child 5 of 1", "node 2",
    };
    EXPECT_EQ(steps.calls, expected);
}

TEST(ManifoldTree, TreeIsCompleteWhateverTheClusters) {
    for (int maxDepth : {0, 1, 2, 3}) {
        RecordingSteps steps;
        std::srand(1);
        EXPECT_TRUE(walkManifoldTree(steps, rootPixelList(3, 2), 0, maxDepth, steps.width));
        const auto nodes = std::count_if(steps.calls.begin(), steps.calls.end(),
                                         [](const std::string& call) { return call[0] == 'n'; });
        EXPECT_EQ(nodes, (1 << (maxDepth + 2)) - 1) << maxDepth;
        EXPECT_EQ(steps.calls.size(), static_cast<std::size_t>(2 * nodes - 1)) << maxDepth;
    }
}

TEST(ManifoldTree, NegativeDepthLimitWalksTheRootAlone) {
    RecordingSteps steps;
    EXPECT_TRUE(walkManifoldTree(steps, rootPixelList(3, 2), 0, -1, steps.width));
    EXPECT_EQ(steps.calls, std::vector<std::string>{"node 0"});
}

TEST(ManifoldTree, WalkStopsAtTheFirstFailure) {
    for (int failing : {0, 1, 2, 7}) {
        RecordingSteps steps;
        steps.failAtCall = failing;
        std::srand(1);
        EXPECT_FALSE(walkManifoldTree(steps, rootPixelList(3, 2), 0, 1, steps.width));
        EXPECT_EQ(steps.calls.size(), static_cast<std::size_t>(failing) + 1);
    }
}

TEST(ChildSmoothing, ReductionFactorAndReducedSize) {
    struct Case {
        float sigmaS, sigmaR;
        unsigned width, height;
        ChildSmoothing expected;
    };
    const Case cases[] = {
        {16.0f, 0.3f, 1024, 1000, {true, 256, 250, 4.0f}},
        {20.0f, 0.3f, 1024, 1000, {true, 204, 200, 4.0f}},
        {2.0f, 0.3f, 1024, 1000, {true, 256, 250, 0.5f}},
        {16.0f, 0.001f, 100, 64, {true, 1, 1, 0.25f}},  // df = 0.256: E = 64
        {16.0f, 0.3f, 3, 2, {true, 1, 1, 4.0f}},
        {0.0f, 0.3f, 10, 8, {false, 10, 8, 0.0f}},
        {-4.0f, 0.3f, 10, 8, {false, 10, 8, -4.0f}},
    };
    for (const Case& c : cases) {
        const ChildSmoothing s = childSmoothing(c.sigmaS, c.sigmaR, c.width, c.height);
        EXPECT_EQ(s.reduced, c.expected.reduced) << c.sigmaS << "/" << c.sigmaR;
        EXPECT_EQ(s.width, c.expected.width) << c.sigmaS << "/" << c.sigmaR;
        EXPECT_EQ(s.height, c.expected.height) << c.sigmaS << "/" << c.sigmaR;
        EXPECT_EQ(s.sigma, c.expected.sigma) << c.sigmaS << "/" << c.sigmaR;
    }
}

CpuTexture filledTexture(unsigned width, unsigned height, const std::vector<float>& levels) {
    CpuTexture texture(nullptr, width, height, static_cast<unsigned>(levels.size()), true);
    for (unsigned c = 0; c < levels.size(); ++c) {
        std::fill_n(texture.getChannel(c), texture.getPixelsCount(), levels[c]);
    }
    return texture;
}

void hSmooth(CpuTexture& planes, float sigma) {
    horizontalHPass(planes, sigma);
    verticalHPass(planes, sigma);
}

TEST(ChildManifold, FullyWeightedClusterGivesZeroNotNaN) {
    const CpuTexture features = filledTexture(12, 8, {0.5f, 2.0f});
    CpuTexture manifold = filledTexture(12, 8, {9.0f, 9.0f});
    const std::vector<float> weights(96, 1.0f);  // 1 - w = 0: every denominator is 0
    ChildManifoldBuilder builder(hSmooth);
    builder.build(rootPixelList(12, 8), weights.data(), features, 8.0f, 0.3f, manifold);
    for (unsigned c = 0; c < 2; ++c) {
        for (unsigned p = 0; p < 96; ++p) {
            EXPECT_EQ(manifold.getChannel(c)[p], 0.0f);
        }
    }
}

TEST(ChildManifold, ClusterOfConstantGuideGivesThatConstantNearIt) {
    const CpuTexture features = filledTexture(32, 16, {0.5f, -2.0f});
    CpuTexture manifold = filledTexture(32, 16, {0.0f, 0.0f});
    const std::vector<float> weights = randomValues(32 * 16, 9);  // in [-1, 1): 1 - w > 0
    ChildManifoldBuilder builder(hSmooth);
    builder.build(rootPixelList(32, 16), weights.data(), features, 8.0f, 0.3f, manifold);
    for (unsigned p = 0; p < 32 * 16; ++p) {
        EXPECT_NEAR(manifold.getChannel(0)[p], 0.5f, 1e-5f);
        EXPECT_NEAR(manifold.getChannel(1)[p], -2.0f, 4e-5f);
    }
}

TEST(ChildManifold, PixelsOutsideTheClusterAndEarlierClustersDoNotLeakIn) {
    const unsigned width = 24, height = 12;
    CpuTexture features(nullptr, width, height, 1, true);
    PixelList left, right;
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            features.getChannel(0)[y * width + x] = x < width / 2 ? 1.0f : 100.0f;
            (x < width / 2 ? left : right).push_back({static_cast<int>(x), static_cast<int>(y)});
        }
    }
    const std::vector<float> weights(width * height, 0.25f);
    CpuTexture afterRight(nullptr, width, height, 1, true);
    CpuTexture fresh(nullptr, width, height, 1, true);
    ChildManifoldBuilder reused(hSmooth);
    reused.build(right, weights.data(), features, 8.0f, 0.3f, afterRight);
    reused.build(left, weights.data(), features, 8.0f, 0.3f, afterRight);
    ChildManifoldBuilder(hSmooth).build(left, weights.data(), features, 8.0f, 0.3f, fresh);
    for (unsigned p = 0; p < width * height; ++p) {
        ASSERT_EQ(afterRight.getChannel(0)[p], fresh.getChannel(0)[p]) << p;
        // Only the left cluster's value, 1, is averaged, wherever it reaches.
        EXPECT_GE(fresh.getChannel(0)[p], 0.0f) << p;
        EXPECT_LE(fresh.getChannel(0)[p], 1.0001f) << p;
    }
}

}  // namespace
}  // namespace quendel
