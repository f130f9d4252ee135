#pragma once

#include <memory>
#include <vector>

#include "quendel/plane_allocator.h"

namespace quendel {

class CpuMatrix;
class GpuTexture;

/// Base of every image storage; it has no operations of its own.
class IImageStorage {};

/// What a filter needs of an image: its size and its channel planes.
/// Planes are row-major, pixel (x, y) at index y * width + x.
class ITexture : public IImageStorage {
  public:
    virtual ~ITexture() = default;
    virtual bool hasSize(unsigned width, unsigned height, unsigned channels) const = 0;
    virtual float* getChannel(unsigned index) = 0;
    virtual const float* getChannel(unsigned index) const = 0;
    virtual unsigned getWidth() const = 0;
    virtual unsigned getHeight() const = 0;
    virtual unsigned getChannelsCount() const = 0;
    virtual unsigned getPixelsCount() const = 0;
};

/// Host image of width x height pixels and any number of float channels,
/// stored planar. Planes are shared and reference counted (thread-safe):
/// copying or assigning a texture shares its planes, `clone` makes private
/// copies of the planes the caller selects. A plane is freed with its last
/// holder.
class CpuTexture : public ITexture {
  public:
    using Plane = std::vector<float, PlaneAllocator<float>>;
    using PlaneHandle = std::shared_ptr<Plane>;

    CpuTexture() = default;

    /// Makes `channels` zero-filled planes, then fills them from `data`
    /// unless it is null: interleaved (pixel after pixel, channels side by
    /// side) or planar (plane after plane).
    CpuTexture(const float* data, unsigned width, unsigned height, unsigned channels,
               bool interleaved);

    /// Shares every plane of `other`.
    CpuTexture(const CpuTexture& other);
    CpuTexture& operator=(const CpuTexture& other);
    CpuTexture(CpuTexture&& other) noexcept;
    CpuTexture& operator=(CpuTexture&& other) noexcept;

    /// Private planes filled from the matrix's interleaved elements.
    explicit CpuTexture(const CpuMatrix& matrix);

    /// Shares the host planes of a device texture; its device buffer is
    /// neither read nor copied.
    CpuTexture(const GpuTexture& source);

    ~CpuTexture() override = default;

    /// A texture of the same size whose channel i is a private copy when bit
    /// i of `mask` is set and shared otherwise (channels 32 and above are
    /// always shared).
    CpuTexture clone(unsigned mask) const;

    /// Resamples every channel into the same channel of `target`, whose size
    /// the caller has set. No half-pixel offset: target pixel x samples
    /// source position x * Ws / Wd. Only channels both textures have are
    /// written; a source without pixels leaves the target alone. Always true.
    bool bilinearScaleTo(CpuTexture& target) const;

    bool hasSize(unsigned width_, unsigned height_, unsigned channels_) const override {
        return width == width_ && height == height_ && getChannelsCount() == channels_;
    }
    float* getChannel(unsigned index) override { return channels[index]->data(); }
    const float* getChannel(unsigned index) const override { return channels[index]->data(); }
    unsigned getWidth() const override { return width; }
    unsigned getHeight() const override { return height; }
    unsigned getChannelsCount() const override { return static_cast<unsigned>(channels.size()); }
    unsigned getPixelsCount() const override { return width * height; }

    /// The shared handle of one plane, for holders that keep planes alive.
    const PlaneHandle& planeHandle(unsigned index) const { return channels[index]; }
    /// Appends a plane (shared, not copied); it must hold width x height values.
    void appendPlane(PlaneHandle plane) { channels.push_back(std::move(plane)); }

  protected:
    unsigned width = 0;
    unsigned height = 0;
    std::vector<PlaneHandle> channels;
};

}  // namespace quendel
