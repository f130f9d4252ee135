#include "quendel/gpu_matrix.h"

#include <utility>

#include "device_failure_report.h"
#include "device_kernels.h"
#include "device_runtime_seam.h"

namespace quendel {

namespace {
// Line numbers that the failure report of each staging operation prints.
constexpr int kAllocateLine = 112;
constexpr int kUploadLine = 141;
constexpr int kDownloadLine = 150;

void freeBuffer(float*& buffer) {
    if (buffer != nullptr) {
        device::activeRuntime().free(buffer);
        buffer = nullptr;
    }
}

bool allocateBuffer(float*& buffer, std::size_t count) {
    freeBuffer(buffer);
    void* allocated = nullptr;
    const bool ok = device::checkDeviceCall(
        device::activeRuntime().allocate(&allocated, count * sizeof(float)), kAllocateLine);
    buffer = static_cast<float*>(allocated);
    return ok;
}

bool uploadBuffer(float* buffer, const float* elements, std::size_t count) {
    if (buffer == nullptr) {
        return false;
    }
    return device::checkDeviceCall(
        device::activeRuntime().copyToDevice(buffer, elements, count * sizeof(float)), kUploadLine);
}

/// A buffer that the caller's matrix does not own, freed on every path.
struct ScratchBuffer {
    float* data = nullptr;
    ~ScratchBuffer() { freeBuffer(data); }
};
}  // namespace

GpuMatrix::GpuMatrix(const GpuTexture& texture)
    : CpuMatrix(static_cast<const CpuTexture&>(texture)) {}

GpuMatrix::GpuMatrix(const GpuMatrix& other) : CpuMatrix(other) {}

GpuMatrix& GpuMatrix::operator=(const GpuMatrix& other) {
    if (this != &other) {
        releaseDevice();
        CpuMatrix::operator=(other);
    }
    return *this;
}

GpuMatrix::GpuMatrix(GpuMatrix&& other) noexcept
    : CpuMatrix(std::move(other)), deviceData(std::exchange(other.deviceData, nullptr)) {}

GpuMatrix& GpuMatrix::operator=(GpuMatrix&& other) noexcept {
    if (this != &other) {
        releaseDevice();
        CpuMatrix::operator=(std::move(other));
        deviceData = std::exchange(other.deviceData, nullptr);
    }
    return *this;
}

GpuMatrix::~GpuMatrix() {
    releaseDevice();
}

std::size_t GpuMatrix::elementCount() const {
    return data.size();
}

bool GpuMatrix::allocateDevice() {
    return allocateBuffer(deviceData, elementCount());
}

bool GpuMatrix::upload() {
    return uploadBuffer(deviceData, data.data(), elementCount());
}

bool GpuMatrix::download() {
    if (deviceData == nullptr) {
        return false;
    }
    return device::checkDeviceCall(
        device::activeRuntime().copyToHost(data.data(), deviceData, elementCount() * sizeof(float)),
        kDownloadLine);
}

void GpuMatrix::releaseDevice() {
    freeBuffer(deviceData);
}

GpuMatrix& GpuMatrix::minus(const GpuMatrix& other) {
    if (other.width != width || other.height != height || other.channels != channels) {
        return *this;
    }
    ScratchBuffer subtrahend;
    bool staged = allocateDevice();
    staged = allocateBuffer(subtrahend.data, other.elementCount()) && staged;
    staged = upload() && staged;
    staged = uploadBuffer(subtrahend.data, other.data.data(), other.elementCount()) && staged;
    if (staged) {
        const int span = channels * width;
        device::launch::minusKernel(device::shape2D(span, height), deviceData, subtrahend.data,
                                    span, height, device::kBlock2D);
        download();
    }
    releaseDevice();
    return *this;
}

}  // namespace quendel
