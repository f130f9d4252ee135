#include "quendel/gpu_texture.h"

#include <utility>

#include "device_failure_report.h"
#include "device_runtime_seam.h"

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

std::size_t GpuTexture::planeBytes() const {
    return std::size_t{getPixelsCount()} * sizeof(float);
}

bool GpuTexture::canTransfer(int index) const {
    return deviceData != nullptr && index >= 0 && static_cast<unsigned>(index) < getChannelsCount();
}

bool GpuTexture::allocateDevice() {
    releaseDevice();
    void* buffer = deviceData;
    const bool allocated = device::checkDeviceCall(
        device::activeRuntime().allocate(&buffer, planeBytes()), kAllocateLine);
    deviceData = static_cast<float*>(buffer);
    return allocated;
}

bool GpuTexture::clearDevice() {
    if (deviceData == nullptr) {
        return false;
    }
    return device::checkDeviceCall(device::activeRuntime().fill(deviceData, 0, planeBytes()),
                                   kClearLine);
}

bool GpuTexture::uploadChannel(int index) {
    if (!canTransfer(index)) {
        return false;
    }
    return device::checkDeviceCall(
        device::activeRuntime().copyToDevice(deviceData, getChannel(static_cast<unsigned>(index)),
                                             planeBytes()),
        kUploadLine);
}

bool GpuTexture::downloadChannel(int index) {
    if (!canTransfer(index)) {
        return false;
    }
    return device::checkDeviceCall(
        device::activeRuntime().copyToHost(getChannel(static_cast<unsigned>(index)), deviceData,
                                           planeBytes()),
        kDownloadLine);
}

void GpuTexture::releaseDevice() {
    if (deviceData != nullptr) {
        device::activeRuntime().free(deviceData);
        deviceData = nullptr;
    }
}

}  // namespace quendel
