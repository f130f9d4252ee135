#include "quality_mode/wider_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <opencv2/core.hpp>
#include <vector>

#include "quality_mode/light_planes.h"
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
// Residuals are moved among this many pixels of about the same level.
constexpr size_t kLevelGroup = 64;
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

// A fixed generator: the same choices every run.
class Shuffler {
  public:
    // Puts the elements of [first, last) in a random order.
    void shuffle(size_t* first, size_t* last) {
        for (size_t count = static_cast<size_t>(last - first); count > 1; --count) {
            std::swap(first[count - 1], first[next() % count]);
        }
    }

    float sign() { return (next() & 1u) != 0 ? 1.0f : -1.0f; }

  private:
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

// The indices of `count` levels from the lowest level to the highest, ties
// by index: one sort of keys that hold both.
std::vector<size_t> orderOfLevels(const float* level, size_t count) {
    std::vector<uint64_t> keys(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &level[i], sizeof bits);
        // Ordered as the floats are: negative ones reversed, below the rest.
        bits = (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
        keys[i] = (static_cast<uint64_t>(bits) << 32) | static_cast<uint64_t>(i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<size_t> order(count);
    for (size_t k = 0; k < count; ++k) order[k] = static_cast<size_t>(keys[k] & 0xFFFFFFFFu);
    return order;
}

// Noise like a layer's whose outliers were kept: its light's residuals
// under the fine filter (noise, heavy tails and all, and some fine detail)
// with random signs.
std::vector<float> whiteNoiseLikeTheLayers(const float* light, const float* fine, size_t count) {
    std::vector<float> noise(count);
    Shuffler random;
    for (size_t i = 0; i < count; ++i) noise[i] = random.sign() * (light[i] - fine[i]);
    return noise;
}

// Noise made as a layer's was when its outliers were separated. Lowering
// an outlier to its neighbourhood's limit and spreading what it held around
// correlate neighbouring pixels, so the layer's noise is not white, and a
// wider filter removes more of it than of white noise of the same power.
// The noisy light's residuals under the fine filter each move to a random
// pixel among those of about the same `level` (path-traced noise grows with
// the light), join the fine light there, and that light's outliers are
// separated as the layer's were. `level` is the wide filter's light: it
// does not order a pattern finer than that filter by its phase, so the
// pattern's residuals are scattered as noise is.
std::vector<float> separatedNoiseLikeTheLayers(const cv::Mat& noisy, const float* fine,
                                               const float* level, const OutlierRule& outliers) {
    const size_t count = noisy.total();
    std::vector<size_t> byLevel = orderOfLevels(level, count);
    std::vector<size_t> moved = byLevel;
    Shuffler random;
    for (size_t start = 0; start < count; start += kLevelGroup) {
        random.shuffle(moved.data() + start, moved.data() + std::min(count, start + kLevelGroup));
    }
    const float* values = noisy.ptr<float>();
    cv::Mat light(noisy.size(), CV_32F);
    float* made = light.ptr<float>();
    for (size_t k = 0; k < count; ++k) {
        made[byLevel[k]] = fine[byLevel[k]] + (values[moved[k]] - fine[moved[k]]);
    }
    cv::Mat colour;
    cv::merge(std::vector<cv::Mat>(3, light), colour);
    const PlanarLight separated = planarLight(
        separateFireflies(colour, light, outliers.spread, outliers.floor, outliers.reach));
    const float* kept = separated.brightness.getChannel(0);
    std::vector<float> noise(count);
    for (size_t i = 0; i < count; ++i) noise[i] = kept[i] - fine[i];
    return noise;
}

}  // namespace

float widerFilterScale(const quendel::CpuTexture& brightness, const quendel::CpuTexture& filtered,
                       const quendel::CpuTexture& guide, const cv::Mat& colour, float sigmaS,
                       const cv::Mat& noisy, const OutlierRule* outliers) {
    CV_Assert(colour.type() == CV_32FC3 && colour.cols == static_cast<int>(brightness.getWidth()) &&
              colour.rows == static_cast<int>(brightness.getHeight()) &&
              filtered.getWidth() == brightness.getWidth() &&
              filtered.getHeight() == brightness.getHeight() && noisy.type() == CV_32F &&
              noisy.size() == colour.size());
    const cv::Rect window = judgedWindow(colour.cols, colour.rows);
    const quendel::CpuTexture light = windowOf(brightness, window);
    const quendel::CpuTexture within = windowOf(guide, window);
    const quendel::CpuTexture narrow = windowOf(filtered, window);
    const quendel::CpuTexture wide = filteredAt(light, within, 2.0f * sigmaS);
    const quendel::CpuTexture fine = filteredAt(light, within, kProbeWidth * sigmaS);
    const cv::Mat colourLevel = luminance(colour(window));

    const size_t count = static_cast<size_t>(window.area());
    std::vector<float> noise =
        outliers != nullptr
            ? separatedNoiseLikeTheLayers(noisy(window).clone(), fine.getChannel(0),
                                          wide.getChannel(0), *outliers)
            : whiteNoiseLikeTheLayers(light.getChannel(0), fine.getChannel(0), count);
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
    // No detail blurred at all: as wide as it goes.
    const double share =
        detailBlurred > 0.0
            ? std::min(kWidestScale - 1.0,
                       (noiseRemoved / detailBlurred - kLeastMargin) / (kFullMargin - kLeastMargin))
            : kWidestScale - 1.0;
    return static_cast<float>(1.0 + share);
}

}  // namespace filtering
