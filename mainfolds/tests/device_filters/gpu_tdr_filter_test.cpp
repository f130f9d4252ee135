#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "device_filters/gpu_filter_test_support.h"
#include "device_runtime/device_test_support.h"
#include "host_filters/filter_coefficients.h"
#include "quendel/gpu_filters.h"

namespace quendel {
namespace {

using gpu_filter_test::closeTo;
using gpu_filter_test::copyOf;
using gpu_filter_test::oneIterationBase;
using gpu_filter_test::oneIterationOnHost;
using gpu_filter_test::randomTexture;
using gpu_filter_test::sameBits;

// Per update the device and the host differ by the fused rounding (at most
// 3 eps M, eps = 2^-24, M the largest magnitude) and by the coefficient: its
// distance differs by a few roundings (fused sums and square root) and the
// device's powf by up to 2 ulp, which moves a^d by at most 4 eps in all, and
// the update by 4 eps * 2M. An error reaches the next value scaled by the
// coefficient (at most a, since distances are at least 1) and its own
// output by one minus it, so a sweep adds at most 11 eps M / (1 - a), and
// the four sweeps at most 44 eps M / (1 - a).
float tdrTolerance(float sigmaS, float largest) {
    return 64.0f * (FLT_EPSILON / 2.0f) * largest / (1.0f - oneIterationBase(sigmaS));
}

class GpuTdrFilter : public device_test::OnEachRuntime {};

TEST_P(GpuTdrFilter, AgreesWithOneHostIterationUpToFusedRounding) {
    struct Case {
        unsigned width, height, channels, guideChannels;
        float sigmaS, sigmaR;
    };
    const Case cases[] = {
        {37, 29, 3, 5, 8.0f, 0.3f},  {130, 6, 2, 3, 4.0f, 0.1f}, {6, 131, 1, 16, 16.0f, 1.0f},
        {33, 32, 2, 1, 2.0f, 0.05f}, {1, 17, 2, 3, 8.0f, 0.3f},  {17, 1, 2, 3, 8.0f, 0.3f},
        {1, 1, 1, 2, 8.0f, 0.3f},
    };
    unsigned seed = 30;
    for (const Case& c : cases) {
        const CpuTexture input = randomTexture(c.width, c.height, c.channels, ++seed, -1.0f, 1.0f);
        const CpuTexture guideValues = randomTexture(c.width, c.height, c.guideChannels, ++seed);
        GpuTexture image(copyOf(input));
        GpuTexture guide(guideValues);
        TDRFilter<GpuFiltering> filter;
        ASSERT_TRUE(filter.process(image, guide, c.sigmaS, c.sigmaR));
        EXPECT_EQ(image.getDeviceData(), nullptr);
        EXPECT_EQ(guide.getDeviceData(), nullptr);
        EXPECT_TRUE(sameBits(guide, guideValues));
        const float tolerance = tdrTolerance(c.sigmaS, gpu_filter_test::largestMagnitude(input));
        EXPECT_TRUE(
            closeTo(image, oneIterationOnHost(input, guideValues, c.sigmaS, c.sigmaR), tolerance))
            << c.width << " x " << c.height << ", " << c.guideChannels << " guide channels";
    }
}

TEST_P(GpuTdrFilter, GuidesWithoutChannelsOrWithoutEdgesGiveThePlainSmoothing) {
    // Every distance is then 1 and every coefficient a itself: the H filter
    // at the one iteration's sigma, bit for bit.
    const CpuTexture input = randomTexture(23, 19, 2, 40);
    const float sigmaS = 6.0f;
    GpuTexture expected(copyOf(input));
    HFilter<GpuFiltering> plain;
    ASSERT_TRUE(plain.process(expected, (std::sqrt(3.0f) * sigmaS) / std::sqrt(3.0f)));

    GpuTexture noChannels(nullptr, 23, 19, 0, true);
    GpuTexture constant(nullptr, 23, 19, 3, true);
    for (unsigned c = 0; c < 3; ++c) {
        std::fill_n(constant.getChannel(c), constant.getPixelsCount(), 0.25f * c);
    }
    for (GpuTexture* guide : {&noChannels, &constant}) {
        GpuTexture image(copyOf(input));
        TDRFilter<GpuFiltering> filter;
        ASSERT_TRUE(filter.process(image, *guide, sigmaS, 0.2f));
        EXPECT_TRUE(sameBits(image, expected)) << guide->getChannelsCount() << " channels";
    }
}

TEST_P(GpuTdrFilter, ConstantChannelsStayConstant) {
    CpuTexture input(nullptr, 29, 21, 2, true);
    std::fill_n(input.getChannel(0), input.getPixelsCount(), -3.5f);
    std::fill_n(input.getChannel(1), input.getPixelsCount(), 0.1f);
    GpuTexture image(copyOf(input));
    GpuTexture guide(randomTexture(29, 21, 4, 41));
    TDRFilter<GpuFiltering> filter;
    ASSERT_TRUE(filter.process(image, guide, 10.0f, 0.2f));
    EXPECT_TRUE(sameBits(image, input));
}

TEST_P(GpuTdrFilter, AnImageCanGuideItself) {
    const CpuTexture input = randomTexture(31, 17, 3, 42);
    GpuTexture image(copyOf(input));
    TDRFilter<GpuFiltering> filter;
    ASSERT_TRUE(filter.process(image, image, 8.0f, 0.3f));
    EXPECT_TRUE(closeTo(image, oneIterationOnHost(input, input, 8.0f, 0.3f),
                        tdrTolerance(8.0f, gpu_filter_test::largestMagnitude(input))));
}

TEST_P(GpuTdrFilter, GuidesOfAnotherSizeAreRefusedBeforeAnyDeviceWork) {
    const CpuTexture input = randomTexture(12, 10, 2, 43);
    TDRFilter<GpuFiltering> filter;
    for (GpuTexture guide :
         {GpuTexture(nullptr, 12, 9, 3, true), GpuTexture(nullptr, 11, 10, 3, true),
          GpuTexture(nullptr, 120, 1, 3, true)}) {
        GpuTexture image(copyOf(input));
        EXPECT_FALSE(filter.process(image, guide, 8.0f, 0.3f));
        EXPECT_TRUE(sameBits(image, input));
        EXPECT_EQ(image.getDeviceData(), nullptr);
    }
}

TEST_P(GpuTdrFilter, ImagesWithoutChannelsOrPixelsAreAccepted) {
    TDRFilter<GpuFiltering> filter;
    GpuTexture noChannels(nullptr, 9, 7, 0, true);
    GpuTexture guide(randomTexture(9, 7, 2, 44));
    EXPECT_TRUE(filter.process(noChannels, guide, 8.0f, 0.3f));
    GpuTexture noPixels(nullptr, 0, 0, 2, true);
    GpuTexture noGuidePixels(nullptr, 0, 0, 1, true);
    EXPECT_TRUE(filter.process(noPixels, noGuidePixels, 8.0f, 0.3f));
}

TEST_P(GpuTdrFilter, ScratchIsKeptForTheSameSizeAndRemadeForANewOne) {
    TDRFilter<GpuFiltering> filter;
    GpuTexture guide(randomTexture(14, 9, 2, 45));
    const CpuTexture input = randomTexture(14, 9, 2, 46);
    GpuTexture first(copyOf(input));
    ASSERT_TRUE(filter.process(first, guide, 8.0f, 0.3f));
    const float* planes[] = {filter.getHorizontalDistances().getChannel(0),
                             filter.getVerticalDistances().getChannel(0),
                             filter.getVerticalCoefficients().getChannel(0),
                             filter.getHorizontalCoefficients().getChannel(0)};
    GpuTexture second(copyOf(input));
    ASSERT_TRUE(filter.process(second, guide, 8.0f, 0.3f));
    EXPECT_TRUE(sameBits(second, first));  // nothing left over from the first call
    EXPECT_EQ(filter.getHorizontalDistances().getChannel(0), planes[0]);
    EXPECT_EQ(filter.getVerticalDistances().getChannel(0), planes[1]);
    EXPECT_EQ(filter.getVerticalCoefficients().getChannel(0), planes[2]);
    EXPECT_EQ(filter.getHorizontalCoefficients().getChannel(0), planes[3]);

    GpuTexture larger(randomTexture(20, 11, 1, 47));
    GpuTexture largerGuide(randomTexture(20, 11, 2, 48));
    ASSERT_TRUE(filter.process(larger, largerGuide, 8.0f, 0.3f));
    for (const GpuTexture* member :
         {&filter.getHorizontalDistances(), &filter.getVerticalDistances(),
          &filter.getVerticalCoefficients(), &filter.getHorizontalCoefficients()}) {
        EXPECT_TRUE(member->hasSize(20, 11, 1));
        EXPECT_EQ(member->getDeviceData(), nullptr);
    }
}

DEVICE_TEST_ON_EACH_RUNTIME(GpuTdrFilter);

using GpuTdrFilterOnEmulator = gpu_filter_test::OnEmulator;

TEST_F(GpuTdrFilterOnEmulator, HoldsAtMostFourPlanesAndNothingAfterwards) {
    GpuTexture image(randomTexture(40, 30, 3, 50));
    GpuTexture guide(randomTexture(40, 30, 5, 51));
    TDRFilter<GpuFiltering> filter;
    ASSERT_TRUE(filter.process(image, guide, 8.0f, 0.3f));
    const auto counters = emulator().counters();
    EXPECT_EQ(counters.copiesToDevice, 5 + 3);  // each guide and image channel once
    EXPECT_EQ(counters.copiesToHost, 3);
    EXPECT_EQ(counters.allocations, counters.frees);
    EXPECT_EQ(emulator().liveBuffers(), 0u);
}

TEST_F(GpuTdrFilterOnEmulator, EveryFailedDeviceCallGivesFalseAndStopsTheDeviceWork) {
    const CpuTexture input = randomTexture(12, 9, 2, 52);
    const CpuTexture guideValues = randomTexture(12, 9, 3, 53);
    TDRFilter<GpuFiltering> filter;  // reused: a failed call must not spoil the next one
    gpu_filter_test::expectEveryFailureReported([&] {
        GpuTexture image(copyOf(input));
        GpuTexture guide(guideValues);
        return filter.process(image, guide, 8.0f, 0.3f);
    });
    GpuTexture image(copyOf(input));
    GpuTexture guide(guideValues);
    ASSERT_TRUE(filter.process(image, guide, 8.0f, 0.3f));
    EXPECT_TRUE(closeTo(image, oneIterationOnHost(input, guideValues, 8.0f, 0.3f),
                        tdrTolerance(8.0f, 1.0f)));
}

TEST_F(GpuTdrFilterOnEmulator, AFailedDownloadKeepsTheChannelsNotYetBroughtBack) {
    const CpuTexture input = randomTexture(12, 9, 3, 54);
    GpuTexture guide(randomTexture(12, 9, 2, 55));
    TDRFilter<GpuFiltering> filter;
    GpuTexture reference(copyOf(input));
    ASSERT_TRUE(filter.process(reference, guide, 8.0f, 0.3f));
    const long calls = gpu_filter_test::failableCalls(emulator().counters());

    // The last call is the download of the last channel.
    emulator().failNextCalls(1, device::Emulator::invalidValue, static_cast<int>(calls) - 1);
    GpuTexture image(copyOf(input));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(filter.process(image, guide, 8.0f, 0.3f));
    EXPECT_EQ(::testing::internal::GetCapturedStderr().rfind("Failed at line 73 (error code ", 0),
              0u);
    for (unsigned p = 0; p < input.getPixelsCount(); ++p) {
        ASSERT_EQ(image.getChannel(0)[p], reference.getChannel(0)[p]);
        ASSERT_EQ(image.getChannel(2)[p], input.getChannel(2)[p]);
    }
    EXPECT_EQ(emulator().liveBuffers(), 0u);
}

}  // namespace
}  // namespace quendel
