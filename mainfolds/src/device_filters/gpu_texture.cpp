#include "quendel/gpu_texture.h"

#include <utility>

#include "device_runtime/device_buffer.h"

namespace quendel {

namespace {
// Line numbers that the failure report of each staging operation prints.
constexpr int kAllocateLine = 34;
constexpr int kClearLine = 43;
constexpr int kUploadLine = 63;
constexpr int kDownloadLine = 73;
}  // namespace

CpuTexture::CpuTexture(const GpuTexture& source)
    : CpuTexture(static_cast<const CpuTexture&>(source)) {}

GpuTexture::GpuTexture(const float* data, int width_, int height_, int channels_, bool interleaved)
    : CpuTexture(data, static_cast<unsigned>(width_), static_cast<unsigned>(height_),
                 static_cast<unsigned>(channels_), interleaved) {}

GpuTexture::GpuTexture(const CpuTexture& source) : CpuTexture(source) {}

GpuTexture::GpuTexture(const GpuTexture& other) : CpuTexture(other) {}

GpuTexture& GpuTexture::operator=(const GpuTexture& other) {
    if (this != &other) {
        releaseDevice();
        CpuTexture::operator=(other);
    }
    return *this;
}

GpuTexture::GpuTexture(GpuTexture&& other) noexcept
    : CpuTexture(std::move(other)), deviceData(std::exchange(other.deviceData, nullptr)) {}

GpuTexture& GpuTexture::operator=(GpuTexture&& other) noexcept {
    if (this != &other) {
        releaseDevice();
        CpuTexture::operator=(std::move(other));
        deviceData = std::exchange(other.deviceData, nullptr);
    }
    return *this;
}

GpuTexture::~GpuTexture() {
    releaseDevice();
}

bool GpuTexture::canTransfer(int index) const {
    return deviceData != nullptr && index >= 0 && static_cast<unsigned>(index) < getChannelsCount();
}

bool GpuTexture::allocateDevice() {
    return device::reallocateBuffer(deviceData, getPixelsCount(), kAllocateLine);
}

bool GpuTexture::clearDevice() {
    return device::clearBuffer(deviceData, getPixelsCount(), kClearLine);
}

bool GpuTexture::uploadChannel(int index) {
    return canTransfer(index) &&
           device::uploadToBuffer(deviceData, getChannel(static_cast<unsigned>(index)),
                                  getPixelsCount(), kUploadLine);
}

bool GpuTexture::downloadChannel(int index) {
    return canTransfer(index) &&
           device::downloadFromBuffer(getChannel(static_cast<unsigned>(index)), deviceData,
                                      getPixelsCount(), kDownloadLine);
}

void GpuTexture::releaseDevice() {
    device::releaseBuffer(deviceData);
}

}  // namespace quendel
