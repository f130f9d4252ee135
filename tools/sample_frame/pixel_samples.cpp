#include "pixel_samples.h"

namespace sample_frame {

void PixelSamples::add(const SurfaceRecord& surface, const LightSplit& light) {
    sum.primary += light.direct;
    sum.secondary += light.indirect;
    sum.texColor += surface.albedo;
    sum.normal += surface.normal;
    sum.position += surface.position;
    sum.texCoord += surface.texCoord;
    beautySum += light.rest + surface.albedo * (light.direct + light.indirect);
    ++count;
}

PixelLayers PixelSamples::average() const {
    const float weight = 1.0f / static_cast<float>(count);
    PixelLayers mean{sum.primary * weight,
                     sum.secondary * weight,
                     sum.texColor * weight,
                     sum.normal * weight,
                     sum.position * weight,
                     sum.texCoord * weight,
                     Vector3()};
    // Where the paths meet different surfaces the average of albedo x light
    // is not the average albedo x the average light, so the rest layer is
    // whatever the others leave of the beauty: rest + texColor * (primary +
    // secondary) gives back the pixel's mean light, to float rounding, as
    // the filter's recombination needs. It may be negative at such edges.
    mean.rest = beautySum * weight - mean.texColor * (mean.primary + mean.secondary);
    return mean;
}

}  // namespace sample_frame
