#pragma once

#include "quendel/gpu_texture.h"
#include "quendel/matrix.h"

namespace quendel {

/// A host matrix with a device copy of its whole element array. The host
/// elements are read with getData(); the device buffer, when held, is owned
/// by this matrix alone (copies get none, moves hand it over).
class GpuMatrix : public CpuMatrix {
  public:
    /// The interleaved elements of the texture's host planes; no buffer.
    explicit GpuMatrix(const GpuTexture& texture);

    GpuMatrix(const GpuMatrix& other);
    GpuMatrix& operator=(const GpuMatrix& other);
    GpuMatrix(GpuMatrix&& other) noexcept;
    GpuMatrix& operator=(GpuMatrix&& other) noexcept;
    ~GpuMatrix();

    /// Frees a held buffer, then allocates one for every element.
    bool allocateDevice();
    /// Copies every element host to device.
    bool upload();
    /// Copies every element device to host.
    bool download();
    /// Frees a held buffer; never reports.
    void releaseDevice();

    /// Subtracts `other` element by element on the device. Operands of
    /// another shape leave this matrix unchanged and make no device call;
    /// so does a failed staging step (after its report) rather than bring
    /// back an unfinished result. `other` and its own buffer are left as
    /// they were, and no buffer made here outlives the call.
    GpuMatrix& minus(const GpuMatrix& other);

    /// The device buffer, or null when none is held.
    float* getDeviceData() const { return deviceData; }

  private:
    std::size_t elementCount() const;

    float* deviceData = nullptr;
};

}  // namespace quendel
