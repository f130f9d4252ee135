// The seam itself: which runtime is active, the kernel registry, launch
// shapes, and the emulator's memory rules.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "device_runtime/device_emulator.h"
#include "device_runtime/device_kernel_registry.h"
#include "device_runtime/device_kernels.h"
#include "device_runtime/device_launch_shape.h"
#include "device_runtime/device_test_support.h"
#include "quendel/threads.h"

using quendel::device::emulator;
using quendel::device::Emulator;
using quendel::device::LaunchShape;

namespace {

TEST(DeviceRuntime, TheEmulatorCanBeForcedAndReleased) {
    quendel::forceDeviceEmulator(true);
    EXPECT_TRUE(quendel::deviceEmulatorForced());
    EXPECT_EQ(quendel::activeDeviceRuntime(), quendel::DeviceRuntime::emulator);
    EXPECT_EQ(&quendel::device::activeRuntime(), &emulator());
    quendel::forceDeviceEmulator(false);
    EXPECT_FALSE(quendel::deviceEmulatorForced());
    EXPECT_EQ(quendel::activeDeviceRuntime(), quendel::cudaDeviceAvailable()
                                                  ? quendel::DeviceRuntime::cuda
                                                  : quendel::DeviceRuntime::emulator);
    EXPECT_STREQ(quendel::deviceRuntimeName(quendel::DeviceRuntime::cuda), "cuda");
    EXPECT_STREQ(quendel::deviceRuntimeName(quendel::DeviceRuntime::emulator), "emulator");
}

TEST(KernelRegistry, ListsTheFifteenKernelsModuleByModuleInRegistrationOrder) {
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"divide", "abstract_filter"},
        {"accumulateWeightedSum", "abstract_filter"},
        {"computeWeights", "abstract_filter"},
        {"accumulateWeights", "abstract_filter"},
        {"verticalRTKernel", "abstract_filter"},
        {"horizontalRTKernel", "abstract_filter"},
        {"power", "abstract_filter"},
        {"diffCompute", "abstract_filter"},
        {"diffsAccumulateSum", "abstract_filter"},
        {"verticalHKernel", "abstract_filter"},
        {"horizontalHKernel", "abstract_filter"},
        {"mat_evec_mul", "matmul"},
        {"mat_eigVecs_mul", "matmul"},
        {"Mt_M_mul", "matmul"},
        {"minusKernel", "texture"},
    };
    std::vector<std::pair<std::string, std::string>> registered;
    for (const auto& entry : quendel::device::kernelRegistry()) {
        registered.emplace_back(entry.name, entry.module);
    }
    EXPECT_EQ(registered, expected);
    ASSERT_NE(quendel::device::findKernel("power"), nullptr);
    EXPECT_STREQ(quendel::device::findKernel("power")->module, "abstract_filter");
    EXPECT_EQ(quendel::device::findKernel("powerKernel"), nullptr);
}

TEST(LaunchShapes, LaunchOneBlockMoreThanTheTruncatedQuotient) {
    const LaunchShape tiles = quendel::device::shape2D(64, 31);
    EXPECT_EQ(tiles.grid.x, 3);
    EXPECT_EQ(tiles.grid.y, 1);
    EXPECT_EQ(tiles.block.x, 32);
    EXPECT_EQ(tiles.block.y, 32);
    EXPECT_EQ(quendel::device::shape2D(1, 33).grid.y, 2);

    EXPECT_EQ(quendel::device::shape1D(127).grid.x, 1);
    EXPECT_EQ(quendel::device::shape1D(128).grid.x, 2);
    EXPECT_EQ(quendel::device::shape1D(128).block.x, 128);
    EXPECT_EQ(quendel::device::shape1D(128).block.y, 1);
}

class Emulation : public testing::Test {
  protected:
    void SetUp() override {
        quendel::forceDeviceEmulator(true);
        buffersBefore = emulator().liveBuffers();
    }
    void TearDown() override {
        EXPECT_EQ(emulator().liveBuffers(), buffersBefore);
        quendel::setThreadCount(quendel::kDefaultThreadCount);
        quendel::forceDeviceEmulator(false);
    }
    std::size_t buffersBefore = 0;
};

TEST_F(Emulation, FreshBuffersHoldNaNsUntilWritten) {
    void* buffer = nullptr;
    ASSERT_TRUE(emulator().allocate(&buffer, 8 * sizeof(float)).ok());
    std::vector<float> values(8);
    ASSERT_TRUE(emulator().copyToHost(values.data(), buffer, 8 * sizeof(float)).ok());
    for (float v : values) {
        EXPECT_TRUE(std::isnan(v));
    }
    ASSERT_TRUE(emulator().fill(buffer, 0, 8 * sizeof(float)).ok());
    ASSERT_TRUE(emulator().copyToHost(values.data(), buffer, 8 * sizeof(float)).ok());
    EXPECT_EQ(values, std::vector<float>(8, 0.0f));
    EXPECT_TRUE(emulator().free(buffer).ok());
}

TEST_F(Emulation, CopiesOutsideALiveBufferAreRefused) {
    void* buffer = nullptr;
    ASSERT_TRUE(emulator().allocate(&buffer, 16).ok());
    char* bytes = static_cast<char*>(buffer);
    std::vector<char> host(32, 1);
    EXPECT_TRUE(emulator().copyToDevice(bytes + 8, host.data(), 8).ok());
    EXPECT_EQ(emulator().copyToDevice(bytes + 8, host.data(), 9).code, Emulator::invalidValue);
    EXPECT_EQ(emulator().copyToHost(host.data(), bytes, 17).code, Emulator::invalidValue);
    EXPECT_EQ(emulator().fill(host.data(), 0, 4).code, Emulator::invalidValue);
    EXPECT_TRUE(emulator().free(buffer).ok());
    EXPECT_EQ(emulator().copyToHost(host.data(), buffer, 4).code, Emulator::invalidValue);
    EXPECT_EQ(emulator().free(buffer).code, Emulator::invalidDevicePointer);
    EXPECT_STREQ(emulator().describe({Emulator::invalidDevicePointer}), "invalid device pointer");
}

TEST_F(Emulation, EmptyRequestsSucceedWithoutABuffer) {
    void* buffer = &buffersBefore;
    EXPECT_TRUE(emulator().allocate(&buffer, 0).ok());
    EXPECT_EQ(buffer, nullptr);
    EXPECT_TRUE(emulator().free(nullptr).ok());
    EXPECT_TRUE(emulator().copyToDevice(nullptr, nullptr, 0).ok());
}

TEST_F(Emulation, InjectedFailuresLeaveFreesAndLaunchesAlone) {
    void* buffer = nullptr;
    ASSERT_TRUE(emulator().allocate(&buffer, 4 * sizeof(float)).ok());
    emulator().failNextCalls(2, Emulator::outOfMemory, 1);
    const float values[] = {1, 2, 3, 4};
    EXPECT_TRUE(emulator().copyToDevice(buffer, values, sizeof values).ok());
    quendel::device::launch::minusKernel(quendel::device::shape2D(4, 1),
                                         static_cast<float*>(buffer), static_cast<float*>(buffer),
                                         4, 1, 32);
    EXPECT_EQ(emulator().fill(buffer, 0, sizeof values).code, Emulator::outOfMemory);
    float back[4] = {};
    EXPECT_EQ(emulator().copyToHost(back, buffer, sizeof back).code, Emulator::outOfMemory);
    EXPECT_TRUE(emulator().copyToHost(back, buffer, sizeof back).ok());
    EXPECT_EQ(std::vector<float>(back, back + 4), std::vector<float>(4, 0.0f));  // a - a
    EXPECT_TRUE(emulator().free(buffer).ok());
}

TEST_F(Emulation, ResultsDoNotDependOnTheTeamSize) {
    const int width = 97, height = 70;
    const auto plane = device_test::randomValues(width * height, 5);
    const auto coefficients = device_test::randomValues(width * height, 6, 0.0f, 1.0f);
    auto filtered = [&] {
        device_test::DeviceArray data(plane), weights(coefficients);
        quendel::device::launch::verticalRTKernel(quendel::device::shape1D(width), data.get(),
                                                  width, height, weights.get(),
                                                  quendel::device::kBlock1D);
        quendel::device::launch::accumulateWeightedSum(quendel::device::shape2D(width, height),
                                                       weights.get(), data.get(), width, height,
                                                       quendel::device::kBlock2D, data.get());
        return data.read();
    };
    quendel::setThreadCount(1);
    const auto alone = filtered();
    quendel::setThreadCount(7);
    EXPECT_TRUE(device_test::sameBits(filtered(), alone));
}

}  // namespace
