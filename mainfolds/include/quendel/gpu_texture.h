#pragma once

#include "quendel/texture.h"

namespace quendel {

/// A host texture that can stage one of its channel planes at a time in a
/// single device buffer of getPixelsCount() floats, which it owns.
///
/// The host planes are shared with the texture it was made from, so a
/// channel downloaded here is seen through every holder of the plane.
/// A device buffer is never owned by two textures: copies share the host
/// planes only, moves hand the buffer over.
///
/// Staging operations return false without a message when there is no
/// buffer or the channel index is out of range; a failing device call
/// prints "Failed at line N (error code TEXT)!" to stderr and returns false.
class GpuTexture : public CpuTexture {
  public:
    GpuTexture() = default;
    /// Host planes as CpuTexture's data constructor makes them; no buffer.
    GpuTexture(const float* data, int width, int height, int channels, bool interleaved);
    /// Shares the planes of `source`; no buffer, no device call.
    GpuTexture(const CpuTexture& source);

    /// Shares the host planes; the copy holds no device buffer.
    GpuTexture(const GpuTexture& other);
    /// Shares the host planes and frees this texture's own buffer; the
    /// buffer of `other` stays with `other`.
    GpuTexture& operator=(const GpuTexture& other);
    /// Takes over the planes and the device buffer of `other`.
    GpuTexture(GpuTexture&& other) noexcept;
    GpuTexture& operator=(GpuTexture&& other) noexcept;

    ~GpuTexture() override;

    /// Frees a held buffer, then allocates a new one of one plane.
    bool allocateDevice();
    /// Sets every value of the buffer to zero.
    bool clearDevice();
    /// Copies plane `index` into the buffer.
    bool uploadChannel(int index);
    /// Copies the buffer into plane `index`.
    bool downloadChannel(int index);
    /// Frees a held buffer; never reports.
    void releaseDevice();

    /// The device buffer, or null when none is held.
    float* getDeviceData() const { return deviceData; }

  private:
    /// A buffer is held and `index` names a channel.
    bool canTransfer(int index) const;

    float* deviceData = nullptr;
};

}  // namespace quendel
