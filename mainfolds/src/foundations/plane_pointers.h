#pragma once

#include <vector>

#include "quendel/texture.h"

namespace quendel {

/// The channel planes of a texture, for loops that walk several at once.
inline std::vector<const float*> readPlanes(const CpuTexture& texture) {
    std::vector<const float*> planes(texture.getChannelsCount());
    for (unsigned c = 0; c < planes.size(); ++c) {
        planes[c] = texture.getChannel(c);
    }
    return planes;
}

inline std::vector<float*> writePlanes(CpuTexture& texture) {
    std::vector<float*> planes(texture.getChannelsCount());
    for (unsigned c = 0; c < planes.size(); ++c) {
        planes[c] = texture.getChannel(c);
    }
    return planes;
}

}  // namespace quendel
