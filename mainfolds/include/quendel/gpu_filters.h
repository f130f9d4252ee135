#pragma once

#include "quendel/backends.h"
#include "quendel/gpu_texture.h"

namespace quendel {

/// Edge-aware smoothing on the device: one iteration of the recursive
/// domain-transform sweeps, every channel of an image in place under a
/// guide of the same size (any number of channels).
///
/// Planes go to the device one at a time; no device memory outlives a
/// call, whether it succeeds or fails. The four scratch members keep their
/// host shape between calls and are re-made only when the size changes.
/// Not safe for concurrent calls.
template <>
class TDRFilter<GpuFiltering> {
  public:
    TDRFilter() = default;

    /// Filters every channel of `image` in place, guided by every channel of
    /// `guide`, whose planes are only read. Returns false, leaving `image`
    /// untouched, when the two differ in width or height. Returns false when
    /// a device call fails (after its report): the remaining device work is
    /// skipped, and channels not yet brought back keep their input values.
    /// True otherwise. Non-finite pixels spread as on the host: a NaN or an
    /// infinity in `image` to every pixel of its channel, a NaN in `guide` to
    /// every pixel of every channel.
    bool process(GpuTexture& image, GpuTexture& guide, float sigmaS, float sigmaR);

    /// Scratch members (width x height x 1 after a call); only their device
    /// buffers carry data, and only during a call.
    const GpuTexture& getHorizontalDistances() const { return horizontalDistances; }
    const GpuTexture& getVerticalDistances() const { return verticalDistances; }
    const GpuTexture& getVerticalCoefficients() const { return verticalCoefficients; }
    const GpuTexture& getHorizontalCoefficients() const { return horizontalCoefficients; }

  private:
    GpuTexture horizontalDistances;
    GpuTexture verticalDistances;
    GpuTexture verticalCoefficients;
    GpuTexture horizontalCoefficients;
};

/// Edge-blind recursive smoothing on the device: one horizontal and one
/// vertical two-way sweep of every channel with the constant coefficient
/// exp(-sqrt2 / sigma). A sigma of 0 leaves the texture as it is.
template <>
class HFilter<GpuFiltering> {
  public:
    /// Filters every channel of `texture` in place. Returns false when a
    /// device call fails (after its report), skipping the remaining device
    /// work; true otherwise. No device memory outlives the call. A NaN or an
    /// infinity spreads to every pixel of its channel.
    bool process(GpuTexture& texture, float sigma);
};

}  // namespace quendel
