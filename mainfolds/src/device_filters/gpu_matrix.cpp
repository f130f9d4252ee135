#include "quendel/gpu_matrix.h"

#include <utility>

#include "device_runtime/device_buffer.h"
#include "device_runtime/device_kernels.h"

namespace quendel {

namespace {
// Line numbers that the failure report of each staging operation prints.
constexpr int kAllocateLine = 112;
constexpr int kUploadLine = 141;
constexpr int kDownloadLine = 150;

/// A buffer that the caller's matrix does not own, freed on every path.
struct ScratchBuffer {
    float* data = nullptr;
    ~ScratchBuffer() { device::releaseBuffer(data); }
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
    return device::reallocateBuffer(deviceData, elementCount(), kAllocateLine);
}

bool GpuMatrix::upload() {
    return device::uploadToBuffer(deviceData, data.data(), elementCount(), kUploadLine);
}

bool GpuMatrix::download() {
    return device::downloadFromBuffer(data.data(), deviceData, elementCount(), kDownloadLine);
}

void GpuMatrix::releaseDevice() {
    device::releaseBuffer(deviceData);
}

GpuMatrix& GpuMatrix::minus(const GpuMatrix& other) {
    if (other.width != width || other.height != height || other.channels != channels) {
        return *this;
    }
    // Each step reports its own failure and the later ones still run, but
    // the difference is computed and brought back only when all succeeded.
    ScratchBuffer subtrahend;
    const bool ownAllocated = allocateDevice();
    const bool otherAllocated =
        device::reallocateBuffer(subtrahend.data, other.elementCount(), kAllocateLine);
    const bool ownUploaded = upload();
    const bool otherUploaded = device::uploadToBuffer(subtrahend.data, other.data.data(),
                                                      other.elementCount(), kUploadLine);
    if (ownAllocated && otherAllocated && ownUploaded && otherUploaded) {
        const int span = channels * width;
        device::launch::minusKernel(device::shape2D(span, height), deviceData, subtrahend.data,
                                    span, height, device::kBlock2D);
        download();
    }
    releaseDevice();
    return *this;
}

}  // namespace quendel
