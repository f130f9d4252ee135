#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "device_filters/gpu_filter_test_support.h"
#include "device_runtime/device_test_support.h"
#include "host_filters/filter_coefficients.h"
#include "host_filters/h_filter.h"
#include "quendel/gpu_filters.h"

namespace quendel {
namespace {

using gpu_filter_test::closeTo;
using gpu_filter_test::copyOf;
using gpu_filter_test::randomTexture;
using gpu_filter_test::sameBits;

// The device fuses each update v + a (p - v) into one rounding where the
// host rounds the product and then the sum: per update they differ by at
// most 3 eps M (eps = 2^-24, M the largest magnitude, which the convex
// updates never exceed). An error in a value reaches the next one scaled by
// a and its own output by 1 - a, so a sweep adds at most 3 eps M / (1 - a),
// and four sweeps (two per direction) at most 12 eps M / (1 - a).
float sweepTolerance(float a, float largest) {
    return 16.0f * (FLT_EPSILON / 2.0f) * largest / (1.0f - a);
}

CpuTexture hostHFiltered(const CpuTexture& input, float sigma) {
    CpuTexture expected = copyOf(input);
    horizontalHPass(expected, sigma);
    verticalHPass(expected, sigma);
    return expected;
}

class GpuHFilter : public device_test::OnEachRuntime {};

TEST_P(GpuHFilter, AgreesWithTheHostPassesUpToFusedRounding) {
    struct Case {
        unsigned width, height, channels;
        float sigma;
    };
    // 130 and 257 lines need a second and a third block of sweeps; a width
    // or height of 1 leaves that direction's sweep without effect.
    const Case cases[] = {{37, 23, 3, 4.0f}, {130, 5, 2, 8.0f}, {6, 257, 1, 2.0f},
                          {1, 19, 2, 4.0f},  {19, 1, 2, 4.0f},  {1, 1, 1, 4.0f}};
    unsigned seed = 10;
    for (const Case& c : cases) {
        const CpuTexture input = randomTexture(c.width, c.height, c.channels, ++seed, -1.0f, 1.0f);
        GpuTexture texture(copyOf(input));
        HFilter<GpuFiltering> filter;
        ASSERT_TRUE(filter.process(texture, c.sigma));
        EXPECT_EQ(texture.getDeviceData(), nullptr);
        const float tolerance =
            sweepTolerance(feedbackCoefficient(c.sigma), gpu_filter_test::largestMagnitude(input));
        EXPECT_TRUE(closeTo(texture, hostHFiltered(input, c.sigma), tolerance))
            << c.width << " x " << c.height << " sigma " << c.sigma;
    }
}

TEST_P(GpuHFilter, ConstantChannelsStayConstantAndOthersAreUntouchedByThem) {
    CpuTexture input = randomTexture(21, 13, 3, 3);
    std::fill_n(input.getChannel(1), input.getPixelsCount(), 0.375f);
    GpuTexture texture(copyOf(input));
    HFilter<GpuFiltering> filter;
    ASSERT_TRUE(filter.process(texture, 6.0f));
    for (unsigned p = 0; p < input.getPixelsCount(); ++p) {
        ASSERT_EQ(texture.getChannel(1)[p], 0.375f) << "pixel " << p;
    }
    // Channels are filtered on their own: channel 2 alone gives the same bits.
    CpuTexture third(nullptr, 21, 13, 0, true);
    third.appendPlane(std::make_shared<CpuTexture::Plane>(*input.planeHandle(2)));
    GpuTexture alone(third);
    ASSERT_TRUE(filter.process(alone, 6.0f));
    CpuTexture filteredThird(nullptr, 21, 13, 0, true);
    filteredThird.appendPlane(texture.planeHandle(2));
    EXPECT_TRUE(sameBits(alone, filteredThird));
}

TEST_P(GpuHFilter, ZeroSigmaLeavesTheTextureAndHugeSigmaSpreadsTheFirstPixel) {
    const CpuTexture input = randomTexture(17, 11, 2, 4);
    GpuTexture unchanged(copyOf(input));
    HFilter<GpuFiltering> filter;
    ASSERT_TRUE(filter.process(unchanged, 0.0f));
    EXPECT_TRUE(sameBits(unchanged, input));

    // exp(-sqrt2 / 1e9) rounds to 1: every value becomes the channel's (0, 0).
    GpuTexture flattened(copyOf(input));
    ASSERT_TRUE(filter.process(flattened, 1.0e9f));
    for (unsigned c = 0; c < 2; ++c) {
        for (unsigned p = 0; p < input.getPixelsCount(); ++p) {
            ASSERT_EQ(flattened.getChannel(c)[p], input.getChannel(c)[0]) << c << " " << p;
        }
    }
}

TEST_P(GpuHFilter, TexturesWithoutChannelsOrPixelsAreAccepted) {
    HFilter<GpuFiltering> filter;
    GpuTexture noChannels(nullptr, 8, 8, 0, true);
    EXPECT_TRUE(filter.process(noChannels, 4.0f));
    EXPECT_EQ(noChannels.getDeviceData(), nullptr);
    GpuTexture noPixels(nullptr, 0, 5, 2, true);
    EXPECT_TRUE(filter.process(noPixels, 4.0f));
    EXPECT_EQ(noPixels.getDeviceData(), nullptr);
}

DEVICE_TEST_ON_EACH_RUNTIME(GpuHFilter);

using GpuHFilterOnEmulator = gpu_filter_test::OnEmulator;

TEST_F(GpuHFilterOnEmulator, StagesOnePlanePerChannelAndHoldsNothingAfterwards) {
    GpuTexture texture(randomTexture(40, 30, 3, 5));
    HFilter<GpuFiltering> filter;
    ASSERT_TRUE(filter.process(texture, 4.0f));
    const auto counters = emulator().counters();
    EXPECT_EQ(counters.allocations, 1);
    EXPECT_EQ(counters.copiesToDevice, 3);
    EXPECT_EQ(counters.copiesToHost, 3);
    EXPECT_EQ(counters.launches, 6);
    EXPECT_EQ(counters.frees, 1);
    EXPECT_EQ(emulator().liveBuffers(), 0u);
}

TEST_F(GpuHFilterOnEmulator, EveryFailedDeviceCallGivesFalseAndStopsTheDeviceWork) {
    const CpuTexture input = randomTexture(12, 9, 3, 6);
    gpu_filter_test::expectEveryFailureReported([&] {
        GpuTexture texture(copyOf(input));
        HFilter<GpuFiltering> filter;
        return filter.process(texture, 4.0f);
    });
}

TEST_F(GpuHFilterOnEmulator, AFailedAllocationIsReportedWithItsLine) {
    emulator().failNextCalls(1, device::Emulator::outOfMemory);
    GpuTexture texture(randomTexture(12, 9, 2, 7));
    const CpuTexture before = copyOf(texture);
    HFilter<GpuFiltering> filter;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(filter.process(texture, 4.0f));
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(report.rfind("Failed at line 34 (error code ", 0), 0u) << report;
    EXPECT_TRUE(sameBits(texture, before));
    EXPECT_EQ(emulator().counters().launches, 0);
}

}  // namespace
}  // namespace quendel
