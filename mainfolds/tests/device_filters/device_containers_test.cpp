// Device textures and matrices: sharing of host planes, staging, index and
// buffer checks, buffer ownership across copies, and GpuMatrix::minus.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "device_runtime/device_emulator.h"
#include "device_runtime/device_test_support.h"
#include "quendel/gpu_matrix.h"
#include "quendel/gpu_texture.h"

using quendel::CpuTexture;
using quendel::GpuMatrix;
using quendel::GpuTexture;
using quendel::device::emulator;

namespace {

std::vector<float> planeOf(const CpuTexture& texture, unsigned channel) {
    const float* plane = texture.getChannel(channel);
    return {plane, plane + texture.getPixelsCount()};
}

std::vector<float> elementsOf(const GpuMatrix& matrix) {
    const float* data = matrix.getData();
    const std::size_t count = static_cast<std::size_t>(matrix.getWidth()) * matrix.getHeight() *
                              matrix.getChannelsCount();
    return {data, data + count};
}

class Containers : public device_test::OnEachRuntime {};
DEVICE_TEST_ON_EACH_RUNTIME(Containers);

TEST_P(Containers, DownloadedChannelsShowInTheTextureTheyCameFrom) {
    const float data[] = {1, 2, 3, 4, 5, 6};
    CpuTexture host(data, 3, 1, 2, false);
    {
        GpuTexture staged(host);
        ASSERT_TRUE(staged.allocateDevice());
        ASSERT_TRUE(staged.uploadChannel(0));
        ASSERT_TRUE(staged.downloadChannel(1));
        ASSERT_TRUE(staged.clearDevice());
        ASSERT_TRUE(staged.downloadChannel(0));
    }
    // The device texture is gone; the planes it wrote into live on.
    EXPECT_EQ(planeOf(host, 0), (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(planeOf(host, 1), (std::vector<float>{1, 2, 3}));
}

TEST_P(Containers, ConversionBackSharesHostPlanesAndIgnoresTheDeviceBuffer) {
    const float data[] = {7, 8};
    GpuTexture staged(data, 2, 1, 1, true);
    ASSERT_TRUE(staged.allocateDevice());
    ASSERT_TRUE(staged.clearDevice());
    const CpuTexture back(staged);
    EXPECT_EQ(planeOf(back, 0), (std::vector<float>{7, 8}));
    staged.getChannel(0)[1] = 9;
    EXPECT_EQ(back.getChannel(0)[1], 9.0f);
    EXPECT_EQ(back.getWidth(), 2u);
    EXPECT_EQ(back.getHeight(), 1u);
}

TEST_P(Containers, TransfersCheckTheBufferAndTheChannelIndexFirst) {
    const float data[] = {1, 2, 3, 4};
    GpuTexture texture(data, 2, 1, 2, false);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(texture.clearDevice());
    EXPECT_FALSE(texture.uploadChannel(0));
    EXPECT_FALSE(texture.downloadChannel(0));
    ASSERT_TRUE(texture.allocateDevice());
    for (const int index : {-1, 2}) {
        EXPECT_FALSE(texture.uploadChannel(index)) << index;
        EXPECT_FALSE(texture.downloadChannel(index)) << index;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(planeOf(texture, 0), (std::vector<float>{1, 2}));
    EXPECT_EQ(planeOf(texture, 1), (std::vector<float>{3, 4}));
}

TEST_P(Containers, MatrixOfATextureInterleavesItsPlanes) {
    const float data[] = {1, 4, 2, 5, 3, 6};  // planes (1, 4), (2, 5), (3, 6)
    const GpuTexture texture(data, 2, 1, 3, false);
    GpuMatrix matrix(texture);
    EXPECT_EQ(matrix.getWidth(), 2);
    EXPECT_EQ(matrix.getHeight(), 1);
    EXPECT_EQ(matrix.getChannelsCount(), 3);
    EXPECT_EQ(elementsOf(matrix), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(matrix.getDeviceData(), nullptr);
}

TEST_P(Containers, MatrixRoundTripsThroughItsDeviceBuffer) {
    const GpuTexture texture(device_test::randomValues(35, 1).data(), 7, 5, 1, true);
    GpuMatrix matrix(texture);
    const auto original = elementsOf(matrix);
    ASSERT_TRUE(matrix.allocateDevice());
    ASSERT_TRUE(matrix.upload());
    matrix.getData()[0] = 42;
    ASSERT_TRUE(matrix.download());
    EXPECT_EQ(elementsOf(matrix), original);
}

TEST_P(Containers, MinusSubtractsEveryElementOfEveryChannel) {
    // 3 channels x 13 columns: a logical width of 39 spans two tiles.
    const auto left = device_test::randomValues(13 * 33 * 3, 2);
    const auto right = device_test::randomValues(13 * 33 * 3, 3);
    GpuMatrix a(GpuTexture(left.data(), 13, 33, 3, true));
    const GpuMatrix b(GpuTexture(right.data(), 13, 33, 3, true));
    a.minus(b);
    std::vector<float> expected(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        expected[i] = left[i] - right[i];
    }
    EXPECT_TRUE(device_test::sameBits(elementsOf(a), expected));
    EXPECT_EQ(elementsOf(b), right);
    EXPECT_EQ(a.getDeviceData(), nullptr);
    EXPECT_EQ(b.getDeviceData(), nullptr);
}

// The rest counts calls and buffers, which only the emulator can.
class EmulatedContainers : public testing::Test {
  protected:
    void SetUp() override {
        quendel::forceDeviceEmulator(true);
        emulator().resetCounters();
        buffersBefore = emulator().liveBuffers();
    }
    void TearDown() override {
        EXPECT_EQ(emulator().liveBuffers(), buffersBefore) << "a device buffer leaked";
        quendel::forceDeviceEmulator(false);
    }
    std::size_t buffersBefore = 0;
};

TEST_F(EmulatedContainers, HostOnlyTexturesMakeNoDeviceCall) {
    const float data[] = {1, 2};
    {
        GpuTexture empty;
        GpuTexture fromData(data, 2, 1, 1, true);
        GpuTexture fromHost{CpuTexture(data, 2, 1, 1, true)};
        GpuMatrix matrix(fromData);
    }
    EXPECT_EQ(emulator().counters().total(), 0);
}

TEST_F(EmulatedContainers, AllocatingAgainFreesTheFirstBuffer) {
    GpuTexture texture(nullptr, 4, 4, 1, true);
    ASSERT_TRUE(texture.allocateDevice());
    const float* first = texture.getDeviceData();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(texture.allocateDevice());
    EXPECT_EQ(emulator().counters().frees, 1);
    EXPECT_EQ(emulator().liveBuffers(), buffersBefore + 1);
    EXPECT_EQ(emulator().liveBytes(), 16 * sizeof(float));
    texture.releaseDevice();
    EXPECT_EQ(texture.getDeviceData(), nullptr);
    texture.releaseDevice();
    EXPECT_EQ(emulator().counters().frees, 2);

    GpuMatrix matrix(texture);
    ASSERT_TRUE(matrix.allocateDevice());
    ASSERT_TRUE(matrix.allocateDevice());
    EXPECT_EQ(emulator().liveBuffers(), buffersBefore + 1);
}

TEST_F(EmulatedContainers, ABufferIsNeverOwnedByTwoTextures) {
    const float data[] = {1, 2, 3};
    GpuTexture staged(data, 3, 1, 1, true);
    ASSERT_TRUE(staged.allocateDevice());
    float* buffer = staged.getDeviceData();

    GpuTexture copy(staged);
    EXPECT_EQ(copy.getDeviceData(), nullptr);
    EXPECT_EQ(copy.getChannel(0), staged.getChannel(0));

    GpuTexture assigned(data, 3, 1, 1, true);
    ASSERT_TRUE(assigned.allocateDevice());
    assigned = staged;
    EXPECT_EQ(assigned.getDeviceData(), nullptr);  // its own buffer freed, none taken
    EXPECT_EQ(staged.getDeviceData(), buffer);
    EXPECT_EQ(emulator().liveBuffers(), buffersBefore + 1);

    GpuTexture moved(std::move(staged));
    EXPECT_EQ(moved.getDeviceData(), buffer);
    EXPECT_EQ(staged.getDeviceData(), nullptr);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.getDeviceData(), buffer);
    EXPECT_EQ(moved.getDeviceData(), nullptr);
    EXPECT_EQ(emulator().liveBuffers(), buffersBefore + 1);

    GpuMatrix matrix(assigned);
    ASSERT_TRUE(matrix.allocateDevice());
    const GpuMatrix matrixCopy(matrix);
    EXPECT_EQ(matrixCopy.getDeviceData(), nullptr);
    GpuMatrix matrixMoved(std::move(matrix));
    EXPECT_NE(matrixMoved.getDeviceData(), nullptr);
    EXPECT_EQ(matrix.getDeviceData(), nullptr);
    // Every buffer is freed exactly once: the fixture checks for leaks,
    // the emulator refuses a second free of the same address.
}

TEST_F(EmulatedContainers, MinusOnDifferentShapesMakesNoDeviceCall) {
    const float data[] = {1, 2, 3, 4, 5, 6};
    GpuMatrix twoByOne(GpuTexture(data, 2, 1, 3, true));
    const GpuMatrix oneByTwo(GpuTexture(data, 1, 2, 3, true));
    const GpuMatrix otherChannels(GpuTexture(data, 2, 1, 2, true));
    twoByOne.minus(oneByTwo).minus(otherChannels);
    EXPECT_EQ(elementsOf(twoByOne), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(emulator().counters().total(), 0);
}

TEST_F(EmulatedContainers, MinusStagesBothOperandsAndFreesEverything) {
    const float left[] = {5, 7}, right[] = {2, 3};
    GpuMatrix a(GpuTexture(left, 2, 1, 1, true));
    const GpuMatrix b(GpuTexture(right, 2, 1, 1, true));
    EXPECT_EQ(&a.minus(b), &a);
    EXPECT_EQ(elementsOf(a), (std::vector<float>{3, 4}));
    const auto calls = emulator().counters();
    EXPECT_EQ(calls.allocations, 2);
    EXPECT_EQ(calls.copiesToDevice, 2);
    EXPECT_EQ(calls.launches, 1);
    EXPECT_EQ(calls.copiesToHost, 1);
    EXPECT_EQ(calls.frees, 2);
}

}  // namespace
