#pragma once

#include <cstddef>
#include <vector>

#include "quendel/texture.h"

namespace quendel {

/// The Gaussian-weighted patch features of an image, computed on demand
/// instead of stored: feature k * C + c of pixel (x, y) is
/// (channel c at (x + dx, y + dy) - mean of channel c) * w_k, where k counts
/// the offsets (dx outer, dy inner) over [-radius, radius] and a coordinate
/// outside the image is replaced by 0 (first column or row). Recomputing a
/// feature rounds exactly as storing it once would.
class PatchFeatures {
  public:
    /// `source` must outlive this object. A radius below 1 counts as 1.
    PatchFeatures(const CpuTexture& source, int radius);

    int count() const { return featureCount; }
    unsigned width() const { return source.getWidth(); }
    unsigned height() const { return source.getHeight(); }
    size_t pixels() const { return static_cast<size_t>(width()) * height(); }

    /// Writes features [first, last) of the pixels xBegin .. xEnd - 1 of row
    /// y, each minus `centre[i]` (null: nothing subtracted), feature i of
    /// pixel x at out[(i - first) * featureStride + (x - xBegin) * pixelStride].
    /// Pixel-major (featureStride 1), a pixel's columns from last - first up
    /// to the next multiple of eight within pixelStride may be set to 0.
    void gather(unsigned y, unsigned xBegin, unsigned xEnd, int first, int last,
                const float* centre, float* out, size_t featureStride, size_t pixelStride) const;

    /// The mean of every feature over the image, each summed in single
    /// precision in pixel order; features are spread over the team.
    std::vector<float> means() const;

    /// Weight of offset k: exp(-(0.5 (dx^2 + dy^2)) / (0.5 radius)).
    float weight(int k) const { return weights[static_cast<size_t>(k)]; }

  private:
    void gatherOne(unsigned y, unsigned xBegin, unsigned xEnd, int feature, float centre,
                   float* out) const;

    const CpuTexture& source;
    int radius;
    int channels;
    int featureCount;
    std::vector<float> channelMeans;
    std::vector<float> weights;
};

/// Mean of each channel, summed in single precision in pixel order.
std::vector<float> channelMeansOf(const CpuTexture& texture);

}  // namespace quendel
