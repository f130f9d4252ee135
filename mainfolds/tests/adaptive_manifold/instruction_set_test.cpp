#include "quendel/instruction_set.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundations/instruction_set_choice.h"
#include "foundations/team_for_work.h"
#include "foundations/test_textures.h"
#include "host_filters/h_filter.h"
#include "host_filters/whole_team_test.h"
#include "quendel/adaptive_manifold_filter.h"
#include "quendel/source_vector.h"
#include "quendel/tdr_filter.h"
#include "quendel/threads.h"

namespace quendel {
namespace {

using test::randomTexture;
using test::sameBits;

TEST(InstructionSetChoice, NoRequestTakesTheWidestAvailable) {
    std::string notice = "stale";
    EXPECT_EQ(chooseInstructionSet(nullptr, InstructionSet::Avx2, notice), InstructionSet::Avx2);
    EXPECT_TRUE(notice.empty());
    EXPECT_EQ(chooseInstructionSet("", InstructionSet::Avx512, notice), InstructionSet::Avx512);
    EXPECT_TRUE(notice.empty());
}

TEST(InstructionSetChoice, NarrowerOrEqualRequestsAreHonouredSilently) {
    std::string notice;
    for (const InstructionSet widest :
         {InstructionSet::Sse2, InstructionSet::Avx2, InstructionSet::Avx512}) {
        for (const InstructionSet asked :
             {InstructionSet::Sse2, InstructionSet::Avx2, InstructionSet::Avx512}) {
            if (asked > widest) {
                continue;
            }
            EXPECT_EQ(chooseInstructionSet(instructionSetName(asked), widest, notice), asked);
            EXPECT_TRUE(notice.empty()) << notice;
        }
    }
}

TEST(InstructionSetChoice, WiderOrUnknownRequestsFallBackToTheWidestWithANotice) {
    std::string notice;
    EXPECT_EQ(chooseInstructionSet("avx512", InstructionSet::Avx2, notice), InstructionSet::Avx2);
    EXPECT_NE(notice.find("avx512"), std::string::npos) << notice;
    EXPECT_NE(notice.find("using avx2"), std::string::npos) << notice;
    EXPECT_EQ(chooseInstructionSet("AVX2", InstructionSet::Avx512, notice), InstructionSet::Avx512);
    EXPECT_NE(notice.find("using avx512"), std::string::npos) << notice;
}

// CTest also runs this case with QUENDEL_ISA set (see CMakeLists.txt).
TEST(InstructionSetEnvironment, ActiveSetFollowsTheVariable) {
    const char* asked = std::getenv("QUENDEL_ISA");
    const auto is = [&](const char* name) {
        return asked != nullptr && std::strcmp(asked, name) == 0;
    };
    if (is("sse2")) {
        EXPECT_EQ(activeInstructionSet(), InstructionSet::Sse2);
    } else if (is("avx2") || is("avx512")) {
        GTEST_SKIP() << "what these give depends on the processor";
    } else {
        EXPECT_EQ(activeInstructionSet(), widestAvailableInstructionSet());
    }
}

// Every result of every set and team size, against the narrowest set on one
// thread.
class EverySetAndTeam : public test::WholeTeamTest {
  protected:
    void TearDown() override {
        overrideInstructionSet(std::nullopt);
        test::WholeTeamTest::TearDown();
    }

    void expectTheSameEverywhere(const std::function<CpuTexture()>& run) {
        overrideInstructionSet(InstructionSet::Sse2);
        setThreadCount(1);
        const CpuTexture expected = run();
        for (const InstructionSet set :
             {InstructionSet::Sse2, InstructionSet::Avx2, InstructionSet::Avx512}) {
            overrideInstructionSet(set);
            if (activeInstructionSet() != set) {
                continue;  // the processor does not have it
            }
            for (const int team : {1, 2, 3, 4}) {
                setThreadCount(team);
                EXPECT_TRUE(sameBits(run(), expected))
                    << instructionSetName(set) << ", team " << team;
            }
        }
    }
};

// Smooth regions, a hard edge and noise: both long and short domain
// distances, so the powers meet both ends of their range.
CpuTexture shapesWithNoise(unsigned width, unsigned height, unsigned channels, unsigned seed) {
    CpuTexture texture = randomTexture(width, height, channels, seed, -0.05f, 0.05f);
    for (unsigned c = 0; c < channels; ++c) {
        float* plane = texture.getChannel(c);
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                const bool inside = (x * 3 + y * 2) % (width + c + 7) < width / 2;
                plane[y * width + x] += inside ? 0.8f : 0.1f + 0.5f * x / width;
            }
        }
    }
    return texture;
}

TEST_F(EverySetAndTeam, TdrFilterGivesTheSameBits) {
    // Widths off every vector multiple, a 3- and a 16-channel guide.
    const CpuTexture image = shapesWithNoise(61, 43, 3, 1);
    for (const unsigned guideChannels : {3u, 16u}) {
        const CpuTexture guide = shapesWithNoise(61, 43, guideChannels, 2);
        for (const float sigmaR : {0.02f, 0.3f}) {
            expectTheSameEverywhere([&] {
                CpuTexture result = image.clone(~0u);
                TDRFilter<CpuFiltering>().process(result, guide, 7.0f, sigmaR);
                return result;
            });
        }
    }
}

TEST_F(EverySetAndTeam, HFilterGivesTheSameBits) {
    const CpuTexture image = randomTexture(53, 37, 4, 3);
    expectTheSameEverywhere([&] {
        CpuTexture result = image.clone(~0u);
        horizontalHPass(result, 4.0f);
        verticalHPass(result, 2.5f);
        return result;
    });
}

TEST_F(EverySetAndTeam, GuideBuildGivesTheSameBits) {
    const CpuTexture light = shapesWithNoise(45, 38, 3, 4);
    const CpuTexture normals = shapesWithNoise(45, 38, 3, 5);
    const CpuTexture depth = randomTexture(45, 38, 1, 6);
    expectTheSameEverywhere([&] {
        SourceVector<CpuFiltering> source(light);
        source.addSource(normals, 0.5f);
        source.addSource(depth, 2.0f);
        source.sourceScale = 1.5f;
        source.build();
        return source.features;
    });
}

TEST_F(EverySetAndTeam, AdaptiveManifoldFilterGivesTheSameBits) {
    const CpuTexture image = shapesWithNoise(50, 41, 3, 7);
    for (const int maxDepth : {0, 1}) {
        expectTheSameEverywhere([&] {
            // The guide is built in each run too: nine channels, as the
            // pipeline's image-and-patches guide has.
            SourceVector<CpuFiltering> source(image);
            source.sigmaS = 6.0f;
            source.sigmaR = 0.25f;
            CpuTexture output(nullptr, 50, 41, 3, true);
            std::srand(3);
            AdaptiveManifoldFilter<CpuFiltering>().process(&output, source, maxDepth);
            return output;
        });
    }
}

}  // namespace
}  // namespace quendel
