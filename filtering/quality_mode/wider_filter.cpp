#include "quality_mode/wider_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "quality_mode/noise_estimate.h"
#include "quendel/tdr_filter.h"

namespace filtering {

namespace {

constexpr float kUnitRange = 1.0f;
// Frames of more pixels than this are judged on a window of this many in
// their middle: the sums need no more, and the judging costs little beside
// the filtering itself.
constexpr double kJudgedPixels = 65536.0;
// The noise is drawn from the light less a filter this share as wide: its
// own detail there is finer than anything either filter keeps.
constexpr float kProbeWidth = 0.5f;
// That noise still carries some of the light's detail, so it runs high on
// frames with shadows and textures: the wider filter must win clearly. Its
// share grows from none at the first margin to all at the second, and past
// that at the same rate up to the widest scale (at a margin of 2.8).
constexpr double kLeastMargin = 1.2, kFullMargin = 2.0;
constexpr double kWidestScale = 3.0;

cv::Rect judgedWindow(int width, int height) {
    const double pixels = static_cast<double>(width) * static_cast<double>(height);
    if (pixels <= kJudgedPixels) {
        return {0, 0, width, height};
    }
    const double scale = std::sqrt(kJudgedPixels / pixels);
    const int columns = std::max(1, static_cast<int>(width * scale));
    const int rows = std::max(1, static_cast<int>(height * scale));
    return {(width - columns) / 2, (height - rows) / 2, columns, rows};
}

// The window's part of a texture; the texture itself (its planes shared,
// never written) when the window is all of it.
quendel::CpuTexture windowOf(const quendel::CpuTexture& texture, const cv::Rect& window) {
    if (window.width == static_cast<int>(texture.getWidth()) &&
        window.height == static_cast<int>(texture.getHeight())) {
        return texture;
    }
    const unsigned channels = texture.getChannelsCount();
    quendel::CpuTexture part(nullptr, static_cast<unsigned>(window.width),
                             static_cast<unsigned>(window.height), channels, false);
    const size_t stride = texture.getWidth();
    for (unsigned c = 0; c < channels; ++c) {
        const float* from = texture.getChannel(c);
        float* to = part.getChannel(c);
        for (int row = 0; row < window.height; ++row) {
            std::memcpy(
                to + static_cast<size_t>(row) * static_cast<size_t>(window.width),
                from + static_cast<size_t>(row + window.y) * stride + static_cast<size_t>(window.x),
                static_cast<size_t>(window.width) * sizeof(float));
        }
    }
    return part;
}

quendel::CpuTexture filteredAt(const quendel::CpuTexture& image, const quendel::CpuTexture& guide,
                               float sigmaS) {
    quendel::CpuTexture result = image.clone(1u);
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    filter.process(result, guide, sigmaS, kUnitRange);
    return result;
}

// How much a change of the light at a pixel changes what the screen shows:
// the colour times the slope of the display encoding there (none where the
// display clips).
double screenWeight(float colour, float light) {
    const double value = static_cast<double>(colour) * static_cast<double>(light);
    double slope = 0.0;
    if (value < 0.0031308) {
        slope = 12.92;
    } else if (value <= 1.0) {
        slope = 1.055 / 2.4 * std::pow(value, 1.0 / 2.4 - 1.0);
    }
    const double weight = static_cast<double>(colour) * slope;
    return weight * weight;
}

// Signs for the noise, from a fixed generator: the same choice every run.
std::vector<float> randomSigns(size_t count) {
    std::vector<float> signs(count);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (float& sign : signs) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        sign = (state & 1u) != 0 ? 1.0f : -1.0f;
    }
    return signs;
}

}  // namespace

float widerFilterScale(const quendel::CpuTexture& brightness, const quendel::CpuTexture& filtered,
                       const quendel::CpuTexture& guide, const cv::Mat& colour, float sigmaS) {
    CV_Assert(colour.type() == CV_32FC3 && colour.cols == static_cast<int>(brightness.getWidth()) &&
              colour.rows == static_cast<int>(brightness.getHeight()) &&
              filtered.getWidth() == brightness.getWidth() &&
              filtered.getHeight() == brightness.getHeight());
    const cv::Rect window = judgedWindow(colour.cols, colour.rows);
    const quendel::CpuTexture light = windowOf(brightness, window);
    const quendel::CpuTexture within = windowOf(guide, window);
    const quendel::CpuTexture narrow = windowOf(filtered, window);
    const quendel::CpuTexture wide = filteredAt(light, within, 2.0f * sigmaS);
    const quendel::CpuTexture fine = filteredAt(light, within, kProbeWidth * sigmaS);
    const cv::Mat colourLevel = luminance(colour(window));

    // Noise like the light's own: its residual under the fine filter, with
    // random signs (heavy tails and all).
    const size_t count = static_cast<size_t>(window.area());
    std::vector<float> noise = randomSigns(count);
    const float* x = light.getChannel(0);
    const float* f = fine.getChannel(0);
    for (size_t i = 0; i < count; ++i) noise[i] *= x[i] - f[i];
    const quendel::CpuTexture probe(noise.data(), static_cast<unsigned>(window.width),
                                    static_cast<unsigned>(window.height), 1, false);
    const quendel::CpuTexture probeNarrow = filteredAt(probe, within, sigmaS);
    const quendel::CpuTexture probeWide = filteredAt(probe, within, 2.0f * sigmaS);

    // Noise the wider filter removes, and the detail it blurs: the change
    // between the two filters beyond what their noise alone explains.
    const float* a = narrow.getChannel(0);
    const float* b = wide.getChannel(0);
    const float* na = probeNarrow.getChannel(0);
    const float* nb = probeWide.getChannel(0);
    double noiseRemoved = 0.0, detailBlurred = 0.0;
    for (int row = 0; row < window.height; ++row) {
        const float* c = colourLevel.ptr<float>(row);
        for (int column = 0; column < window.width; ++column) {
            const size_t i = static_cast<size_t>(row) * static_cast<size_t>(window.width) +
                             static_cast<size_t>(column);
            const double weight = screenWeight(c[column], a[i]);
            const double change = double(a[i]) - double(b[i]);
            const double noiseChange = double(na[i]) - double(nb[i]);
            noiseRemoved += weight * (double(na[i]) * na[i] - double(nb[i]) * nb[i]);
            detailBlurred += weight * (change * change - noiseChange * noiseChange);
        }
    }
    if (!(noiseRemoved > kLeastMargin * detailBlurred)) {
        return 1.0f;  // no gain, or nothing shows
    }
    const double margin = detailBlurred > 0.0 ? noiseRemoved / detailBlurred : kFullMargin;
    const double share =
        std::min(kWidestScale - 1.0, (margin - kLeastMargin) / (kFullMargin - kLeastMargin));
    return static_cast<float>(1.0 + share);
}

}  // namespace filtering
