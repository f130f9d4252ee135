#pragma once

#include "quendel/gpu_texture.h"
#include "quendel/texture.h"

namespace quendel {

/// Re-makes `texture` zero-filled at the given size unless it already has
/// it, in which case its planes and their values stay: work planes are kept
/// from one call to the next while the image size does not change.
inline void ensureTextureSize(CpuTexture& texture, unsigned width, unsigned height,
                              unsigned channels) {
    if (!texture.hasSize(width, height, channels)) {
        texture = CpuTexture(nullptr, width, height, channels, true);
    }
}

inline void ensureTextureSize(GpuTexture& texture, unsigned width, unsigned height,
                              unsigned channels) {
    if (!texture.hasSize(width, height, channels)) {
        texture = GpuTexture(nullptr, static_cast<int>(width), static_cast<int>(height),
                             static_cast<int>(channels), true);
    }
}

}  // namespace quendel
