#pragma once

// Shared pieces of the device filter tests: plane comparisons with a
// stated tolerance, and a sweep that fails every device
// call of a filter call in turn on the emulator.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "device_runtime/device_emulator.h"
#include "foundations/test_textures.h"
#include "host_filters/filter_coefficients.h"
#include "quendel/device_runtime.h"
#include "quendel/texture.h"

namespace gpu_filter_test {

using quendel::test::randomTexture;
using quendel::test::sameBits;

/// A private copy of every plane.
inline quendel::CpuTexture copyOf(const quendel::CpuTexture& texture) {
    return texture.clone(0xffffffffu);
}

/// Every value within `tolerance` of the expected one (NaN only against NaN).
inline ::testing::AssertionResult closeTo(const quendel::CpuTexture& actual,
                                          const quendel::CpuTexture& expected, float tolerance) {
    if (!actual.hasSize(expected.getWidth(), expected.getHeight(), expected.getChannelsCount())) {
        return ::testing::AssertionFailure() << "sizes differ";
    }
    for (unsigned c = 0; c < actual.getChannelsCount(); ++c) {
        for (unsigned p = 0; p < actual.getPixelsCount(); ++p) {
            const float a = actual.getChannel(c)[p];
            const float e = expected.getChannel(c)[p];
            const bool bothNaN = std::isnan(a) && std::isnan(e);
            if (!bothNaN && !(std::fabs(a - e) <= tolerance)) {
                return ::testing::AssertionFailure()
                       << "channel " << c << " pixel " << p << ": " << a << " instead of " << e
                       << " (" << std::fabs(a - e) << " apart, " << tolerance << " allowed)";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The one coefficient base of the device filter: one iteration, whose sigma
// is sigmaS * sqrt3 / sqrt3.
inline float oneIterationBase(float sigmaS) {
    const float sqrt3 = std::sqrt(3.0f);
    return quendel::feedbackCoefficient((sqrt3 * sigmaS * 1.0f) / std::sqrt(3.0f));
}

// One iteration of the recursive domain transform, written plainly on the
// host with every product and sum rounded on its own.
inline quendel::CpuTexture oneIterationOnHost(const quendel::CpuTexture& image,
                                              const quendel::CpuTexture& guide, float sigmaS,
                                              float sigmaR) {
    const unsigned width = image.getWidth();
    const unsigned height = image.getHeight();
    const float ratio = sigmaS / sigmaR;
    const float k1 = ratio * ratio;
    const float a = oneIterationBase(sigmaS);
    auto coefficientTowards = [&](unsigned p, unsigned q) {
        float sum = 0.0f;
        for (unsigned c = 0; c < guide.getChannelsCount(); ++c) {
            const float d = guide.getChannel(c)[p] - guide.getChannel(c)[q];
            sum = sum + d * d;
        }
        const float weighted = k1 * sum;
        return std::pow(a, std::sqrt(1.0f + weighted));
    };
    std::vector<float> left(width * height), up(width * height);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            const unsigned p = y * width + x;
            left[p] = x > 0 ? coefficientTowards(p, p - 1) : 0.0f;
            up[p] = y > 0 ? coefficientTowards(p, p - width) : 0.0f;
        }
    }
    auto update = [](float& v, float neighbour, float coefficient) {
        const float step = coefficient * (neighbour - v);
        v = v + step;
    };
    quendel::CpuTexture result = copyOf(image);
    for (unsigned c = 0; c < result.getChannelsCount(); ++c) {
        float* plane = result.getChannel(c);
        for (unsigned y = 0; y < height; ++y) {
            float* row = plane + y * width;
            for (unsigned x = 1; x < width; ++x) update(row[x], row[x - 1], left[y * width + x]);
            for (unsigned x = width - 1; x-- > 0;) {
                update(row[x], row[x + 1], left[y * width + x + 1]);
            }
        }
        for (unsigned y = 1; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                update(plane[y * width + x], plane[(y - 1) * width + x], up[y * width + x]);
            }
        }
        for (unsigned y = height - 1; y-- > 0;) {
            for (unsigned x = 0; x < width; ++x) {
                update(plane[y * width + x], plane[(y + 1) * width + x], up[(y + 1) * width + x]);
            }
        }
    }
    return result;
}

inline float largestMagnitude(const quendel::CpuTexture& texture) {
    float largest = 0.0f;
    for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
        for (unsigned p = 0; p < texture.getPixelsCount(); ++p) {
            largest = std::fmax(largest, std::fabs(texture.getChannel(c)[p]));
        }
    }
    return largest;
}

/// Runs every test on the emulator, whose calls can be counted and failed.
class OnEmulator : public ::testing::Test {
  protected:
    void SetUp() override {
        quendel::forceDeviceEmulator(true);
        emulator().failNextCalls(0, quendel::device::Emulator::outOfMemory);
        emulator().resetCounters();
    }
    void TearDown() override {
        emulator().failNextCalls(0, quendel::device::Emulator::outOfMemory);
        quendel::forceDeviceEmulator(false);
    }
    static quendel::device::Emulator& emulator() { return quendel::device::emulator(); }
};

/// Calls that failure injection can fail: allocations, fills and copies.
inline long failableCalls(const quendel::device::Emulator::Counters& counters) {
    return counters.allocations + counters.fills + counters.copiesToDevice + counters.copiesToHost;
}

/// Runs `filterCall` (returning the filter's result; it must set up fresh
/// inputs each time) once without failures to count its device calls, then
/// once for each of them with that call failing. Every failing run must
/// return false, print the failure report, hold no device memory afterwards
/// and make at most `trailingCalls` device calls after the failed one.
template <typename FilterCall>
void expectEveryFailureReported(FilterCall filterCall, long trailingCalls = 0) {
    using quendel::device::Emulator;
    Emulator& emulator = quendel::device::emulator();
    emulator.resetCounters();
    ASSERT_TRUE(filterCall());
    const long calls = failableCalls(emulator.counters());
    ASSERT_GT(calls, 0);
    for (long failing = 0; failing < calls; ++failing) {
        emulator.failNextCalls(1, Emulator::outOfMemory, static_cast<int>(failing));
        emulator.resetCounters();
        ::testing::internal::CaptureStderr();
        const bool result = filterCall();
        const std::string report = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(result) << "device call " << failing << " of " << calls << " failed";
        EXPECT_NE(report.find("Failed at line "), std::string::npos) << report;
        EXPECT_NE(report.find("(error code " +
                              std::string(emulator.describe({Emulator::outOfMemory})) + ")!"),
                  std::string::npos)
            << report;
        EXPECT_EQ(emulator.liveBuffers(), 0u) << "device call " << failing;
        EXPECT_LE(failableCalls(emulator.counters()), failing + 1 + trailingCalls)
            << "device work went on after call " << failing << " failed";
    }
    emulator.failNextCalls(0, Emulator::outOfMemory);
}

}  // namespace gpu_filter_test
