#pragma once

#include <opencv2/core.hpp>

#include "quality_mode/firefly_suppression.h"
#include "quendel/texture.h"

namespace filtering {

/// A light layer in the planar form the filter takes, with its luminance
/// as a texture of one plane beside it.
struct PlanarLight {
    quendel::CpuTexture image;
    quendel::CpuTexture brightness;
};

/// A layer's outlier-free light in planes (the planes of `parts.kept`, with
/// the spread light added in place), and its luminance.
PlanarLight planarLight(SeparatedFireflies parts);

/// A layer's light as it is, in planes, and its luminance.
PlanarLight planarLight(const cv::Mat& light);

/// The light a layer reflects off the texture colour: per channel, the sum
/// over the pixels of light times colour. The sum's order is fixed, so it
/// never depends on the threads.
cv::Vec3d reflectedLight(const cv::Mat& light, const cv::Mat& texColor);
cv::Vec3d reflectedLight(const quendel::CpuTexture& light, const cv::Mat& texColor);

/// The first three planes interleaved, channel c multiplied by scale[c].
cv::Mat interleavedScaled(const quendel::CpuTexture& planes, const cv::Vec3f& scale);

}  // namespace filtering
