#include "quality_mode/wider_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
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

// Two images under one guide in one pass: the guide's work is shared.
// Channel 0 holds the first, channel 1 the second.
quendel::CpuTexture filteredTogether(const quendel::CpuTexture& first,
                                     const quendel::CpuTexture& second,
                                     const quendel::CpuTexture& guide, float sigmaS) {
    quendel::CpuTexture result = first.clone(1u);
    result.appendPlane(second.clone(1u).planeHandle(0));
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
// by index: a stable radix sort of the levels' bits, in two passes of 16.
std::vector<size_t> orderOfLevels(const float* level, size_t count) {
    std::vector<uint32_t> keys(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &level[i], sizeof bits);
        // Ordered as the floats are: negative ones reversed, below the rest.
        keys[i] = (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
    }
    std::vector<size_t> order(count), sorted(count);
    std::iota(order.begin(), order.end(), size_t{0});
    constexpr size_t kBuckets = size_t{1} << 16;
    std::vector<size_t> starts(kBuckets + 1);
    for (const int shift : {0, 16}) {
        std::fill(starts.begin(), starts.end(), size_t{0});
        for (size_t i = 0; i < count; ++i) ++starts[((keys[i] >> shift) & 0xFFFFu) + 1];
        std::partial_sum(starts.begin(), starts.end(), starts.begin());
        for (const size_t index : order) sorted[starts[(keys[index] >> shift) & 0xFFFFu]++] = index;
        order.swap(sorted);
    }
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

// The noise a second filter removes beyond the first's, and the detail it
// changes beyond what noise explains, both as they show on screen: `a` and
// `b` are the light under either, `na` and `nb` the probe's noise under
// either.
struct Comparison {
    double noiseRemoved = 0.0;
    double detailBlurred = 0.0;
};

Comparison compare(const float* a, const float* b, const float* na, const float* nb,
                   const cv::Mat& colourLevel) {
    Comparison result;
    for (int row = 0; row < colourLevel.rows; ++row) {
        const float* c = colourLevel.ptr<float>(row);
        for (int column = 0; column < colourLevel.cols; ++column) {
            const size_t i = static_cast<size_t>(row) * static_cast<size_t>(colourLevel.cols) +
                             static_cast<size_t>(column);
            const double weight = screenWeight(c[column], a[i]);
            const double change = double(a[i]) - double(b[i]);
            const double noiseChange = double(na[i]) - double(nb[i]);
            result.noiseRemoved += weight * (double(na[i]) * na[i] - double(nb[i]) * nb[i]);
            result.detailBlurred += weight * (change * change - noiseChange * noiseChange);
        }
    }
    return result;
}

}  // namespace

LayerJudge::LayerJudge(const quendel::CpuTexture& brightness, const quendel::CpuTexture& filtered,
                       const quendel::CpuTexture& guide, const cv::Mat& colour, float sigmaS,
                       const cv::Mat& noisy, const OutlierRule* outliers)
    : sigmaS_(sigmaS) {
    CV_Assert(colour.type() == CV_32FC3 && colour.cols == static_cast<int>(brightness.getWidth()) &&
              colour.rows == static_cast<int>(brightness.getHeight()) &&
              filtered.getWidth() == brightness.getWidth() &&
              filtered.getHeight() == brightness.getHeight() && noisy.type() == CV_32F &&
              noisy.size() == colour.size());
    const cv::Rect window = judgedWindow(colour.cols, colour.rows);
    light_ = windowOf(brightness, window);
    guide_ = windowOf(guide, window);
    first_ = windowOf(filtered, window);
    colourLevel_ = luminance(colour(window));
    wide_ = filteredAt(light_, guide_, 2.0f * sigmaS);
    const quendel::CpuTexture fine = filteredAt(light_, guide_, kProbeWidth * sigmaS);
    const size_t count = static_cast<size_t>(window.area());
    std::vector<float> noise =
        outliers != nullptr
            ? separatedNoiseLikeTheLayers(noisy(window).clone(), fine.getChannel(0),
                                          wide_.getChannel(0), *outliers)
            : whiteNoiseLikeTheLayers(light_.getChannel(0), fine.getChannel(0), count);
    probe_ = quendel::CpuTexture(noise.data(), static_cast<unsigned>(window.width),
                                 static_cast<unsigned>(window.height), 1, false);
    // The light and the probe under the present guide, channels 0 and 1.
    first_.appendPlane(filteredAt(probe_, guide_, sigmaS).planeHandle(0));
}

bool LayerJudge::adoptIfPays(
    const std::function<quendel::CpuTexture(const quendel::CpuTexture&)>& loosen) {
    const quendel::CpuTexture looser = loosen(guide_);
    const quendel::CpuTexture second = filteredTogether(light_, probe_, looser, sigmaS_);
    const Comparison loose = compare(first_.getChannel(0), second.getChannel(0),
                                     first_.getChannel(1), second.getChannel(1), colourLevel_);
    if (!(loose.noiseRemoved > kLeastMargin * loose.detailBlurred && loose.noiseRemoved > 0.0)) {
        return false;
    }
    guide_ = looser;
    first_ = second;
    wide_ = quendel::CpuTexture();
    return true;
}

float LayerJudge::widerScale() const {
    Comparison wider;
    if (wide_.getChannelsCount() != 0) {
        const quendel::CpuTexture probeWide = filteredAt(probe_, guide_, 2.0f * sigmaS_);
        wider = compare(first_.getChannel(0), wide_.getChannel(0), first_.getChannel(1),
                        probeWide.getChannel(0), colourLevel_);
    } else {
        const quendel::CpuTexture wide = filteredTogether(light_, probe_, guide_, 2.0f * sigmaS_);
        wider = compare(first_.getChannel(0), wide.getChannel(0), first_.getChannel(1),
                        wide.getChannel(1), colourLevel_);
    }
    if (!(wider.noiseRemoved > kLeastMargin * wider.detailBlurred)) {
        return 1.0f;  // no gain, or nothing shows
    }
    // No detail blurred at all: as wide as it goes.
    const double share = wider.detailBlurred > 0.0
                             ? std::min(kWidestScale - 1.0,
                                        (wider.noiseRemoved / wider.detailBlurred - kLeastMargin) /
                                            (kFullMargin - kLeastMargin))
                             : kWidestScale - 1.0;
    return static_cast<float>(1.0 + share);
}

float widerFilterScale(const quendel::CpuTexture& brightness, const quendel::CpuTexture& filtered,
                       const quendel::CpuTexture& guide, const cv::Mat& colour, float sigmaS,
                       const cv::Mat& noisy, const OutlierRule* outliers) {
    return LayerJudge(brightness, filtered, guide, colour, sigmaS, noisy, outliers).widerScale();
}

}  // namespace filtering
