#pragma once

#include <opencv2/core.hpp>

#include "quendel/texture.h"

namespace filtering {

/// Outlier handling of a noisy light layer (three channels) without loss of
/// energy. A pixel whose luminance exceeds its 3 x 3 neighbourhood's median
/// by more than `spread` times the neighbourhood's robust deviation (and
/// more than `floor`) is scaled down to that limit; the light taken away is
/// spread over a neighbourhood of deviation about `reach` pixels and added
/// back, so the layer's sum stays what it was (up to rounding, and apart
/// from what the image border reflects back in). Returns the new layer.
cv::Mat suppressFireflies(const cv::Mat& light, float spread, float floor, float reach);

/// The settings of an outlier separation, as separateFireflies takes them.
struct OutlierRule {
    float spread = 0;
    float floor = 0;
    float reach = 0;
};

/// The same in two parts, given the layer's luminance (`luminance(light)`)
/// already made: the layer with its outliers lowered, in three planes, and
/// the light taken from them, spread around. The spread light is kept at
/// half the layer's resolution: pixel (row, column) gets kSpreadShare of
/// element (row / 2, column / 2). Empty when no pixel was lowered.
struct SeparatedFireflies {
    quendel::CpuTexture kept;
    cv::Mat spread;
};
SeparatedFireflies separateFireflies(const cv::Mat& light, const cv::Mat& brightness, float spread,
                                     float floor, float reach);

/// Each pixel's share of the spread light of its 2 x 2 block.
constexpr float kSpreadShare = 0.25f;

}  // namespace filtering
