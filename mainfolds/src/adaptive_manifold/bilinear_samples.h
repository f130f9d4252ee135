#pragma once

#include <vector>

namespace quendel {

/// Where the targets of a bilinear resampling read along one axis: target i
/// blends source positions `first[i]` and `second[i]`, `fraction[i]` of the
/// way to the second. Computed with the same operations as
/// CpuTexture::bilinearScaleTo, so that resampling through these samples
/// (vertical blend first, then horizontal) gives the same bits while letting
/// a caller fuse the resampling with what comes before or after it.
struct AxisSamples {
    std::vector<unsigned> first;
    std::vector<unsigned> second;
    std::vector<float> fraction;
};

/// The samples of `targetSize` targets over `sourceSize` (at least 1)
/// source positions.
AxisSamples axisSamples(unsigned sourceSize, unsigned targetSize);

/// a + t (b - a), rounded at each operation: the blend of the resampling.
inline float blend(float a, float b, float t) {
    return a + t * (b - a);
}

}  // namespace quendel
