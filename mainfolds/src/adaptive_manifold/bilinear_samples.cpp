#include "adaptive_manifold/bilinear_samples.h"

#include <algorithm>

namespace quendel {

AxisSamples axisSamples(unsigned sourceSize, unsigned targetSize) {
    AxisSamples samples;
    samples.first.resize(targetSize);
    samples.second.resize(targetSize);
    samples.fraction.resize(targetSize);
    const float scale = static_cast<float>(targetSize) / static_cast<float>(sourceSize);
    for (unsigned i = 0; i < targetSize; ++i) {
        const float position = static_cast<float>(i) / scale;
        const unsigned first = std::min(static_cast<unsigned>(position), sourceSize - 1);
        samples.first[i] = first;
        samples.second[i] = std::min(first + 1, sourceSize - 1);
        samples.fraction[i] = position - static_cast<float>(first);
    }
    return samples;
}

}  // namespace quendel
