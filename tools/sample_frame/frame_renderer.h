#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "scene.h"

namespace sample_frame {

using Image = std::vector<Vector3>;  // row-major, row 0 at the top

/// The seven layers of one rendered frame, each width x height.
struct FrameLayers {
    int width = 0, height = 0;
    Image primary, secondary, texColor, normals, positions, texCoords, rest;

    /// rest + texColor * (primary + secondary): the frame itself.
    Image combined() const;
};

struct RenderRequest {
    int width = 512, height = 512;
    int samplesPerPixel = 4;
    uint64_t seed = 1;
    int threads = 0;  // 0: all the machine has
    // Each path from its own uniformly random point of its pixel, every
    // layer the average over the paths; otherwise all through the centre.
    bool jitter = false;
};

/// Called once for every finished row, from the thread that rendered it.
using RowDone = std::function<void()>;

/// Renders the layers with `samplesPerPixel` paths through every pixel, at
/// its centre or jittered over it. The result depends on the seed and the
/// stream, never on the thread count.
FrameLayers renderLayers(const Scene& scene, const RenderRequest& request, uint64_t stream = 0,
                         const RowDone& rowDone = {});

/// The seed of frame `frame` of a shot rendered with `seed`: every frame's
/// noise its own, and no two (seed, frame) pairs alike.
uint64_t frameSeed(uint64_t seed, int frame);

/// A frame rendered on a stream independent of renderLayers' default one,
/// jittered when the request is.
Image renderReference(const Scene& scene, const RenderRequest& request,
                      const RowDone& rowDone = {});

}  // namespace sample_frame
