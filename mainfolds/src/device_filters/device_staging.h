#pragma once

#include <vector>

#include "quendel/gpu_texture.h"

namespace quendel {

/// The device buffers of one step of a device filter. Every texture given a
/// buffer here gives it back when the step ends, whether the step ran to its
/// end or returned early after a failed device call, so no step leaves
/// device memory held.
class DeviceStaging {
  public:
    DeviceStaging() = default;
    DeviceStaging(const DeviceStaging&) = delete;
    DeviceStaging& operator=(const DeviceStaging&) = delete;
    ~DeviceStaging() {
        for (GpuTexture* texture : staged) {
            texture->releaseDevice();
        }
    }

    /// Gives `texture` a buffer of one plane, held until this step ends.
    bool allocate(GpuTexture& texture) {
        staged.push_back(&texture);
        return texture.allocateDevice();
    }

  private:
    std::vector<GpuTexture*> staged;
};

}  // namespace quendel
