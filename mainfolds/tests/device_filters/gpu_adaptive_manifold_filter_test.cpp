#include "quendel/gpu_adaptive_manifold_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "adaptive_manifold/plain_manifold_filter.h"
#include "device_filters/gpu_filter_test_support.h"
#include "device_runtime/device_test_support.h"
#include "quendel/source_vector.h"

namespace quendel {
namespace {

using gpu_filter_test::closeTo;
using gpu_filter_test::copyOf;
using gpu_filter_test::randomTexture;
using gpu_filter_test::sameBits;
using test::sourceWithGuide;

// The plain run of every step on the host, with one iteration of the TDR
// smoothing as the device runs it.
test::PlainManifoldFilter oneIterationReference() {
    return test::PlainManifoldFilter(
        [](CpuTexture& image, const CpuTexture& guide, float sigmaS, float g) {
            image = gpu_filter_test::oneIterationOnHost(image, guide, sigmaS, g);
        });
}

GpuTexture filtered(AdaptiveManifoldFilter<GpuFiltering>& filter,
                    SourceVector<CpuFiltering>& source, int maxDepth, unsigned seed) {
    GpuTexture output(nullptr, static_cast<int>(source.base.getWidth()),
                      static_cast<int>(source.base.getHeight()),
                      static_cast<int>(source.base.getChannelsCount()), true);
    std::srand(seed);
    EXPECT_TRUE(filter.process(&output, source, maxDepth));
    return output;
}

// The device's TDR and H smoothings differ from the plain host ones by
// fused roundings only (their own tests bound them), and a device's expf
// and powf may differ from the host's by 2 ulp; the node weights, the
// manifolds and the two sums carry these on. The output is a quotient of
// sums of weighted values in [0, 1], so its error is of the order of the
// sums' relative errors: under 1e-6 on the emulator in these cases. 1e-5
// leaves room for a device's own exponentials, while a node missing,
// gathered twice or weighted wrongly moves outputs by 1e-2 and more.
constexpr float kAgreement = 1.0e-5f;

class GpuAdaptiveManifoldFilter : public device_test::OnEachRuntime {};

TEST_P(GpuAdaptiveManifoldFilter, AgreesWithThePlainHostRunOfOneIteration) {
    struct Case {
        unsigned width, height, channels, guideChannels;
        float sigmaS, sigmaR;
        int maxDepth;
    };
    const Case cases[] = {
        {23, 17, 3, 5, 8.0f, 0.3f, -1}, {23, 17, 3, 5, 8.0f, 0.3f, 0},
        {23, 17, 3, 5, 8.0f, 0.3f, 1},  {31, 9, 1, 3, 16.0f, 0.05f, 1},
        {19, 26, 2, 9, 20.0f, 0.2f, 2}, {12, 12, 3, 16, 2.0f, 0.002f, 1},
        {1, 13, 2, 3, 8.0f, 0.3f, 1},   {13, 1, 2, 3, 8.0f, 0.3f, 1},
        {1, 1, 1, 2, 8.0f, 0.3f, 0},    {14, 11, 2, 0, 8.0f, 0.3f, 1},
        {9, 7, 0, 3, 8.0f, 0.3f, 1},
    };
    unsigned seed = 200;
    for (const Case& c : cases) {
        const CpuTexture image = randomTexture(c.width, c.height, c.channels, ++seed);
        const CpuTexture guide = randomTexture(c.width, c.height, c.guideChannels, ++seed);
        SourceVector<CpuFiltering> source = sourceWithGuide(image, guide, c.sigmaS, c.sigmaR);
        AdaptiveManifoldFilter<GpuFiltering> filter;
        const GpuTexture output = filtered(filter, source, c.maxDepth, seed);
        const int nextDraw = std::rand();  // both runs draw as many start directions
        EXPECT_EQ(output.getDeviceData(), nullptr);

        SourceVector<CpuFiltering> again = sourceWithGuide(image, guide, c.sigmaS, c.sigmaR);
        test::PlainManifoldFilter reference = oneIterationReference();
        std::srand(seed);
        EXPECT_TRUE(closeTo(output, reference.run(again, c.maxDepth), kAgreement))
            << c.width << " x " << c.height << ", depth limit " << c.maxDepth;
        EXPECT_EQ(std::rand(), nextDraw);
        EXPECT_TRUE(sameBits(source.base, image));
        EXPECT_TRUE(sameBits(source.features, guide));
    }
}

TEST_P(GpuAdaptiveManifoldFilter, EveryCallStartsFromEmptySums) {
    SourceVector<CpuFiltering> source =
        sourceWithGuide(randomTexture(15, 12, 3, 1), randomTexture(15, 12, 4, 2), 8.0f, 0.3f);
    SourceVector<CpuFiltering> other =
        sourceWithGuide(randomTexture(9, 7, 3, 3), randomTexture(9, 7, 4, 4), 8.0f, 0.3f);
    AdaptiveManifoldFilter<GpuFiltering> filter;
    const GpuTexture first = filtered(filter, source, 1, 5);
    const GpuTexture second = filtered(filter, source, 1, 5);
    EXPECT_TRUE(sameBits(second, first));
    filtered(filter, other, 0, 5);  // another size re-makes the scratch
    EXPECT_TRUE(sameBits(filtered(filter, source, 1, 5), first));
    // A deeper tree after a shallower one, and back.
    const GpuTexture deep = filtered(filter, source, 2, 6);
    EXPECT_FALSE(sameBits(deep, first));
    EXPECT_TRUE(sameBits(filtered(filter, source, 1, 5), first));
}

TEST_P(GpuAdaptiveManifoldFilter, BuildsTheGuideWhenItIsMissingAndNotForANullOutput) {
    SourceVector<CpuFiltering> source(randomTexture(10, 8, 3, 7));
    source.sigmaS = 8.0f;
    source.sigmaR = 0.3f;
    AdaptiveManifoldFilter<GpuFiltering> filter;
    EXPECT_FALSE(filter.process(nullptr, source, 1));
    EXPECT_FALSE(source.built);
    const GpuTexture output = filtered(filter, source, 0, 8);
    EXPECT_TRUE(source.built);
    EXPECT_EQ(source.features.getChannelsCount(), 9u);
    for (unsigned c = 0; c < 3; ++c) {
        for (unsigned p = 0; p < output.getPixelsCount(); ++p) {
            ASSERT_TRUE(std::isfinite(output.getChannel(c)[p]));
        }
    }
}

TEST_P(GpuAdaptiveManifoldFilter, OutputsOfAnotherSizeAndMismatchedGuidesGetNothing) {
    SourceVector<CpuFiltering> source =
        sourceWithGuide(randomTexture(10, 8, 3, 9), randomTexture(10, 8, 4, 10), 8.0f, 0.3f);
    AdaptiveManifoldFilter<GpuFiltering> filter;
    for (GpuTexture wrong :
         {GpuTexture(nullptr, 10, 7, 3, true), GpuTexture(nullptr, 8, 10, 3, true),
          GpuTexture(nullptr, 10, 8, 2, true)}) {
        for (unsigned c = 0; c < wrong.getChannelsCount(); ++c) {
            std::fill_n(wrong.getChannel(c), wrong.getPixelsCount(), -5.0f);
        }
        const CpuTexture before = copyOf(wrong);
        EXPECT_TRUE(filter.process(&wrong, source, 0));
        EXPECT_TRUE(sameBits(wrong, before));
    }
    SourceVector<CpuFiltering> mismatched =
        sourceWithGuide(randomTexture(10, 8, 3, 11), randomTexture(8, 10, 4, 12), 8.0f, 0.3f);
    GpuTexture output(nullptr, 10, 8, 3, true);
    EXPECT_TRUE(filter.process(&output, mismatched, 0));
    EXPECT_TRUE(sameBits(output, CpuTexture(nullptr, 10, 8, 3, true)));
}

TEST_P(GpuAdaptiveManifoldFilter, KeepsTwoFlatRegionsApart) {
    // Left and right halves differ in guide and image: each output stays on
    // its own side's value away from the border.
    const unsigned width = 24, height = 10;
    CpuTexture image(nullptr, width, height, 1, true);
    CpuTexture guide(nullptr, width, height, 2, true);
    for (unsigned p = 0; p < width * height; ++p) {
        const bool right = p % width >= width / 2;
        image.getChannel(0)[p] = right ? 0.9f : 0.1f;
        guide.getChannel(0)[p] = right ? 1.0f : 0.0f;
        guide.getChannel(1)[p] = right ? 0.0f : 1.0f;
    }
    SourceVector<CpuFiltering> source = sourceWithGuide(image, guide, 8.0f, 0.1f);
    AdaptiveManifoldFilter<GpuFiltering> filter;
    const GpuTexture output = filtered(filter, source, 1, 13);
    for (unsigned y = 0; y < height; ++y) {
        EXPECT_NEAR(output.getChannel(0)[y * width + 2], 0.1f, 1e-3f);
        EXPECT_NEAR(output.getChannel(0)[y * width + width - 3], 0.9f, 1e-3f);
    }
}

DEVICE_TEST_ON_EACH_RUNTIME(GpuAdaptiveManifoldFilter);

using GpuAdaptiveManifoldFilterOnEmulator = gpu_filter_test::OnEmulator;

TEST_F(GpuAdaptiveManifoldFilterOnEmulator, HoldsNoDeviceMemoryAfterACall) {
    SourceVector<CpuFiltering> source =
        sourceWithGuide(randomTexture(16, 12, 3, 20), randomTexture(16, 12, 5, 21), 8.0f, 0.3f);
    AdaptiveManifoldFilter<GpuFiltering> filter;
    const GpuTexture output = filtered(filter, source, 1, 22);
    const auto counters = emulator().counters();
    EXPECT_GT(counters.launches, 0);
    EXPECT_EQ(counters.allocations, counters.frees);
    EXPECT_EQ(emulator().liveBuffers(), 0u);
}

TEST_F(GpuAdaptiveManifoldFilterOnEmulator, EveryFailedDeviceCallGivesFalseAndStopsTheDeviceWork) {
    const CpuTexture image = randomTexture(10, 8, 2, 23);
    const CpuTexture guide = randomTexture(10, 8, 3, 24);
    AdaptiveManifoldFilter<GpuFiltering> filter;  // reused across the failures
    SourceVector<CpuFiltering> source = sourceWithGuide(image, guide, 8.0f, 0.3f);
    const GpuTexture clean = filtered(filter, source, 0, 25);
    // The residual's subtraction finishes its own staging (three more calls)
    // before the failure stops the filter.
    gpu_filter_test::expectEveryFailureReported(
        [&] {
            GpuTexture output(nullptr, 10, 8, 2, true);
            std::srand(25);
            return filter.process(&output, source, 0);
        },
        3);
    EXPECT_TRUE(sameBits(filtered(filter, source, 0, 25), clean));
}

}  // namespace
}  // namespace quendel
