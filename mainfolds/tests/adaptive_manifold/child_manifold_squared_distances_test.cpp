#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "adaptive_manifold/child_manifold.h"
#include "foundations/test_textures.h"
#include "host_filters/h_filter.h"
#include "quendel/texture.h"

namespace quendel {
namespace {

CpuTexture randomTexture(unsigned width, unsigned height, unsigned channels, unsigned seed) {
    return test::randomTexture(width, height, channels, seed, -1.0f, 2.0f);
}

void smoothEdgeBlind(CpuTexture& planes, float sigma) {
    horizontalHPass(planes, sigma);
    verticalHPass(planes, sigma);
}

// sigmaS 16 builds at a reduced size, sigmaS 0 at full size; the sums are
// those of the distances the same call wrote, added in channel order.
TEST(ChildManifoldSquaredDistances, AreTheDistancesSquaresInChannelOrder) {
    const unsigned width = 70, height = 45;
    for (float sigmaS : {16.0f, 0.0f}) {
        ASSERT_EQ(childSmoothing(sigmaS, 0.2f, width, height).reduced, sigmaS > 0.0f);
        for (unsigned channels : {1u, 3u, 16u}) {
            const CpuTexture features = randomTexture(width, height, channels, channels);
            std::vector<float> weights(width * height);
            PixelList cluster;
            for (unsigned p = 0; p < weights.size(); ++p) {
                weights[p] = static_cast<float>(p % 11) / 11.0f;
                if (p % 3 != 0) {
                    cluster.push_back({static_cast<int>(p % width), static_cast<int>(p / width)});
                }
            }
            ChildManifoldBuilder builder(smoothEdgeBlind);
            CpuTexture distance(nullptr, width, height, channels, true);
            std::vector<float> sums(weights.size(), -1.0f);
            builder.build(cluster, weights.data(), features, sigmaS, 0.2f, distance,
                          ChildManifoldBuilder::Output::DistanceToGuide, sums.data());
            for (unsigned p = 0; p < sums.size(); ++p) {
                float expected = 0.0f;
                for (unsigned c = 0; c < channels; ++c) {
                    const float d = distance.getChannel(c)[p];
                    expected = expected + d * d;
                }
                ASSERT_EQ(sums[p], expected)
                    << "sigmaS " << sigmaS << " channels " << channels << " pixel " << p;
            }
        }
    }
}

TEST(ChildManifoldSquaredDistances, AloneAreTheSameSumsAndLeaveTheTargetAlone) {
    const unsigned width = 70, height = 45, channels = 5;
    const CpuTexture features = randomTexture(width, height, channels, 21);
    std::vector<float> weights(width * height);
    PixelList cluster;
    for (unsigned p = 0; p < weights.size(); ++p) {
        weights[p] = static_cast<float>(p % 7) / 7.0f;
        if (p % 4 != 1) {
            cluster.push_back({static_cast<int>(p % width), static_cast<int>(p / width)});
        }
    }
    for (float sigmaS : {16.0f, 0.0f}) {
        ChildManifoldBuilder builder(smoothEdgeBlind);
        CpuTexture distance(nullptr, width, height, channels, true);
        std::vector<float> withDistances(weights.size(), -1.0f);
        builder.build(cluster, weights.data(), features, sigmaS, 0.2f, distance,
                      ChildManifoldBuilder::Output::DistanceToGuide, withDistances.data());

        CpuTexture untouched = randomTexture(width, height, channels, 22);
        const CpuTexture before = untouched.clone(0xffffffffu);
        std::vector<float> alone(weights.size(), -1.0f);
        builder.build(cluster, weights.data(), features, sigmaS, 0.2f, untouched,
                      ChildManifoldBuilder::Output::SquaredDistancesOnly, alone.data());
        for (unsigned p = 0; p < alone.size(); ++p) {
            ASSERT_EQ(alone[p], withDistances[p]) << "sigmaS " << sigmaS << " pixel " << p;
        }
        for (unsigned c = 0; c < channels; ++c) {
            for (unsigned p = 0; p < alone.size(); ++p) {
                ASSERT_EQ(untouched.getChannel(c)[p], before.getChannel(c)[p]);
            }
        }
    }
}

TEST(ChildManifoldSquaredDistances, AreLeftAloneWhenTheManifoldItselfIsAsked) {
    const CpuTexture features = randomTexture(20, 12, 3, 9);
    const std::vector<float> weights(240, 0.25f);
    ChildManifoldBuilder builder(smoothEdgeBlind);
    CpuTexture manifold(nullptr, 20, 12, 3, true);
    std::vector<float> sums(240, -1.0f);
    builder.build(rootPixelList(20, 12), weights.data(), features, 16.0f, 0.2f, manifold,
                  ChildManifoldBuilder::Output::Manifold, sums.data());
    for (float sum : sums) {
        ASSERT_EQ(sum, -1.0f);
    }
}

}  // namespace
}  // namespace quendel
