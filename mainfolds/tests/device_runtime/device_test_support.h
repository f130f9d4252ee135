#pragma once

// Shared pieces of the device tests: a fixture that runs a test once on the
// emulator and once on CUDA (skipped without a device), device arrays, and
// ulp distances.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "device_runtime/device_runtime_seam.h"
#include "quendel/device_runtime.h"

namespace quendel {
inline void PrintTo(DeviceRuntime runtime, std::ostream* out) {
    *out << deviceRuntimeName(runtime);
}
}  // namespace quendel

namespace device_test {

/// scripts/device-check sets this so that a missing device fails the CUDA
/// variants instead of skipping them.
inline bool cudaRequired() {
    const char* value = std::getenv("QUENDEL_REQUIRE_CUDA");
    return value != nullptr && std::string(value) == "1";
}

/// Runs each test on the emulator and on CUDA; the CUDA run is skipped when
/// no device is present.
class OnEachRuntime : public ::testing::TestWithParam<quendel::DeviceRuntime> {
  protected:
    void SetUp() override {
        if (GetParam() == quendel::DeviceRuntime::cuda && !quendel::cudaDeviceAvailable()) {
            if (cudaRequired()) {
                FAIL() << "QUENDEL_REQUIRE_CUDA=1 but no usable CUDA device";
            }
            GTEST_SKIP() << "no CUDA device";
        }
        quendel::forceDeviceEmulator(GetParam() == quendel::DeviceRuntime::emulator);
        ASSERT_EQ(quendel::activeDeviceRuntime(), GetParam());
    }
    void TearDown() override { quendel::forceDeviceEmulator(false); }

    bool onCuda() const { return GetParam() == quendel::DeviceRuntime::cuda; }
};

inline std::string runtimeName(const ::testing::TestParamInfo<quendel::DeviceRuntime>& info) {
    return quendel::deviceRuntimeName(info.param);
}

#define DEVICE_TEST_ON_EACH_RUNTIME(fixture)                                               \
    INSTANTIATE_TEST_SUITE_P(                                                              \
        Runtimes, fixture,                                                                 \
        ::testing::Values(quendel::DeviceRuntime::emulator, quendel::DeviceRuntime::cuda), \
        ::device_test::runtimeName)

/// A float buffer of the active runtime, freed with the object.
class DeviceArray {
  public:
    explicit DeviceArray(const std::vector<float>& values) : count(values.size()) {
        allocate();
        write(values);
    }
    static DeviceArray zeros(std::size_t count) {
        return DeviceArray(std::vector<float>(count, 0.0f));
    }
    DeviceArray(const DeviceArray&) = delete;
    DeviceArray& operator=(const DeviceArray&) = delete;
    DeviceArray(DeviceArray&& other) noexcept : count(other.count), buffer(other.buffer) {
        other.buffer = nullptr;
    }
    ~DeviceArray() { quendel::device::activeRuntime().free(buffer); }

    float* get() const { return static_cast<float*>(buffer); }

    void write(const std::vector<float>& values) {
        EXPECT_TRUE(quendel::device::activeRuntime()
                        .copyToDevice(buffer, values.data(), values.size() * sizeof(float))
                        .ok());
    }
    std::vector<float> read() const {
        std::vector<float> values(count);
        EXPECT_TRUE(quendel::device::activeRuntime()
                        .copyToHost(values.data(), buffer, count * sizeof(float))
                        .ok());
        return values;
    }

  private:
    void allocate() {
        EXPECT_TRUE(quendel::device::activeRuntime().allocate(&buffer, count * sizeof(float)).ok());
    }

    std::size_t count;
    void* buffer = nullptr;
};

inline std::vector<float> randomValues(std::size_t count, unsigned seed, float low = -1.0f,
                                       float high = 1.0f) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(low, high);
    std::vector<float> values(count);
    for (float& v : values) {
        v = value(generator);
    }
    return values;
}

/// Distance in units in the last place between two finite floats of the
/// same sign; equal bit patterns give 0.
inline std::int64_t ulpDistance(float a, float b) {
    std::int32_t ia, ib;
    std::memcpy(&ia, &a, sizeof ia);
    std::memcpy(&ib, &b, sizeof ib);
    if (ia < 0) ia = INT32_MIN - ia;
    if (ib < 0) ib = INT32_MIN - ib;
    return std::llabs(static_cast<std::int64_t>(ia) - ib);
}

/// Bitwise equality of two planes, NaN included, naming the first mismatch.
inline ::testing::AssertionResult sameBits(const std::vector<float>& actual,
                                           const std::vector<float>& expected,
                                           std::int64_t ulps = 0) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "sizes " << actual.size() << " and " << expected.size();
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const bool bothNaN = std::isnan(actual[i]) && std::isnan(expected[i]);
        if (!bothNaN && ulpDistance(actual[i], expected[i]) > ulps) {
            return ::testing::AssertionFailure()
                   << "element " << i << ": " << actual[i] << " instead of " << expected[i] << " ("
                   << ulpDistance(actual[i], expected[i]) << " ulp apart, " << ulps << " allowed)";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace device_test
