#pragma once

#include "path_tracer.h"

namespace sample_frame {

/// One pixel's value in each of the seven layers.
struct PixelLayers {
    Vector3 primary, secondary, texColor, normal, position, texCoord, rest;
};

/// The running sums of one pixel's paths, each started from its own point
/// of the pixel, and the layers they average to.
class PixelSamples {
  public:
    void add(const SurfaceRecord& surface, const LightSplit& light);

    /// The plain average of every layer over the paths added (normals left
    /// short of unit length where they differ), except the rest layer, which
    /// takes what the others leave of the paths' mean light so that the
    /// layers recombine to it. At least one path must have been added.
    PixelLayers average() const;

  private:
    PixelLayers sum;
    Vector3 beautySum;
    int count = 0;
};

}  // namespace sample_frame
