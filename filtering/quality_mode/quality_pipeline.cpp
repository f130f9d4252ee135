#include "quality_mode/quality_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <vector>

#include "quality_mode/edge_smoothing.h"
#include "quality_mode/firefly_suppression.h"
#include "quality_mode/geometry_guide.h"
#include "quality_mode/light_planes.h"
#include "quality_mode/noise_estimate.h"
#include "quality_mode/silent_pixels.h"
#include "quality_mode/wider_filter.h"
#include "quendel/tdr_filter.h"
#include "quendel/threads.h"

namespace filtering {

namespace {

// With the guide in deviation units, a range sigma of 1 makes one deviation
// count as one spatial sigma of distance.
constexpr float kUnitRange = 1.0f;
// Flat geometry for the noise estimate: normals within this of each other,
// plane offsets within this share of the median distance.
constexpr float kFlatNormalStep = 0.02f;
constexpr float kFlatOffsetStep = 0.002f;
// Outliers less than this many noise deviations above their neighbourhood
// are left alone, however calm the neighbourhood.
constexpr float kFireflyFloorInNoise = 3.0f;
// Fewer flat pixels than this (or than a hundredth of the frame) make no
// trustworthy noise estimate.
constexpr int kFewestMeasured = 64;
// Light measured on larger blocks while more than this share of them is
// dark, up to blocks this wide.
constexpr double kMostZeros = 0.1;
constexpr int kLargestBlock = 8;
// The neighbourhood whose mean a pixel's relative noise is taken against.
constexpr int kLocalMeanWindow = 5;
// How far, in pixels, light is borrowed for the pixels that hold none.
constexpr int kFillReach = 8;

struct LayerNoise {
    float deviation = 0;  // absolute, in luminance
    float relative = 0;   // of a pixel's light over the light around it
};

// The pixel's mirror inside [0, length) across the border without
// repeating the border pixel, as a 3 x 3 box filter reads it.
int mirroredIndex(int index, int length) {
    return cv::borderInterpolate(index, length, cv::BORDER_REFLECT_101);
}

// Where a pixel and its neighbours are all dark (full shadow) the layer
// holds no noise to measure; leaving them out keeps a mostly shadowed layer
// from reading as noise-free. Marks the lit pixels with 1, those of them on
// flat geometry with 3, and counts the latter.
cv::Mat litPixels(const cv::Mat& brightness, const cv::Mat& flatGeometry, int& litAndFlat) {
    cv::Mat marks(brightness.size(), CV_8U);
    std::atomic<int> counted{0};
    const int firstLeft = mirroredIndex(-1, brightness.cols);
    const int lastRight = mirroredIndex(brightness.cols, brightness.cols);
    cv::parallel_for_(cv::Range(0, brightness.rows), [&](const cv::Range& rows) {
        std::vector<float> columnSums(static_cast<size_t>(brightness.cols));
        int count = 0;
        for (int row = rows.start; row < rows.end; ++row) {
            const float* above = brightness.ptr<float>(mirroredIndex(row - 1, brightness.rows));
            const float* here = brightness.ptr<float>(row);
            const float* below = brightness.ptr<float>(mirroredIndex(row + 1, brightness.rows));
            for (int column = 0; column < brightness.cols; ++column) {
                columnSums[static_cast<size_t>(column)] =
                    above[column] + here[column] + below[column];
            }
            const uchar* flat = flatGeometry.ptr<uchar>(row);
            uchar* mark = marks.ptr<uchar>(row);
            for (int column = 0; column < brightness.cols; ++column) {
                const int left = column > 0 ? column - 1 : firstLeft;
                const int right = column + 1 < brightness.cols ? column + 1 : lastRight;
                const float sum = columnSums[static_cast<size_t>(left)] +
                                  columnSums[static_cast<size_t>(column)] +
                                  columnSums[static_cast<size_t>(right)];
                const bool lit = sum > 0.0f;
                mark[column] = lit ? (flat[column] != 0 ? 3 : 1) : 0;
                count += lit && flat[column] != 0 ? 1 : 0;
            }
        }
        counted += count;
    });
    litAndFlat = counted.load();
    return marks;
}

// The pixels to measure: lit ones on flat geometry. Geometry that is
// nowhere flat (bumpy normals, say) leaves too few; then the whole lit frame
// is measured, edges and all, which the median's robustness tolerates.
cv::Mat measuredPixels(const cv::Mat& brightness, const cv::Mat& flatGeometry) {
    int litAndFlat = 0;
    const cv::Mat marks = litPixels(brightness, flatGeometry, litAndFlat);
    const bool flatEnough =
        litAndFlat >= std::max<int>(kFewestMeasured, static_cast<int>(brightness.total() / 100));
    return flatEnough ? marks == 3 : marks != 0;
}

// The share of the measured pixels whose light is zero: paths that found
// no light. Where they are many the light is a few bright samples among
// zeros, whose median and median deviation say nothing of its noise.
double zeroShare(const cv::Mat& brightness, const cv::Mat& measured) {
    const int count = cv::countNonZero(measured);
    if (count == 0) {
        return 0.0;
    }
    return cv::countNonZero((brightness <= 0.0f) & measured) / static_cast<double>(count);
}

// The means of scale x scale blocks, and the blocks wholly inside the mask.
void blockMeans(const cv::Mat& brightness, const cv::Mat& mask, int scale, cv::Mat& means,
                cv::Mat& meansMask) {
    const cv::Size size(brightness.cols / scale, brightness.rows / scale);
    const cv::Rect whole(0, 0, size.width * scale, size.height * scale);
    cv::resize(brightness(whole), means, size, 0, 0, cv::INTER_AREA);
    cv::Mat covered;
    cv::resize(mask(whole), covered, size, 0, 0, cv::INTER_AREA);
    meansMask = covered == 255;
}

// The relative noise of dense light: the robust deviation of each pixel's
// light over the mean of its 5 x 5 neighbourhood, so that a bright region's
// calm (sunlit ground) does not hide the noise of a dim one (the shadows).
float relativeNoise(const cv::Mat& brightness, const cv::Mat& measured) {
    cv::Mat local;
    cv::boxFilter(brightness, local, CV_32F, cv::Size(kLocalMeanWindow, kLocalMeanWindow),
                  cv::Point(-1, -1), true, cv::BORDER_REFLECT_101);
    // The estimate reads lit pixels (some light in their 3 x 3
    // neighbourhood) and their four neighbours, whose 5 x 5 means all hold
    // that light: none of them is a division by zero.
    cv::Mat ratio;
    cv::divide(brightness, local, ratio);
    return estimateNoise(ratio, measured);
}

// The noise of one pixel. Sparse light is measured on the means of blocks
// large enough to hold light in most of them: independent noise of
// deviation s has deviation s / k on the means of k x k blocks. Its level
// is then the mean of those blocks, as the median of a few bright samples
// among zeros is no level at all.
LayerNoise measureNoise(const cv::Mat& brightness, const cv::Mat& flatGeometry) {
    int scale = 1;
    cv::Mat means = brightness;
    cv::Mat measured = measuredPixels(brightness, flatGeometry);
    while (zeroShare(means, measured) > kMostZeros && scale < kLargestBlock &&
           brightness.rows / (scale * 2) >= 3 && brightness.cols / (scale * 2) >= 3) {
        scale *= 2;
        cv::Mat meansFlat;
        blockMeans(brightness, flatGeometry, scale, means, meansFlat);
        measured = measuredPixels(means, meansFlat);
    }
    LayerNoise noise;
    noise.deviation = estimateNoise(means, measured) * static_cast<float>(scale);
    if (scale == 1) {
        noise.relative = relativeNoise(means, measured);
    } else {
        const auto level = static_cast<float>(cv::mean(means, measured)[0]);
        noise.relative = level > 0.0f ? noise.deviation / level : 0.0f;
    }
    return noise;
}

float spatialSigmaFor(const LayerNoise& noise, const QualityParameters& parameters) {
    const float sigma = parameters.spatialBase * std::pow(noise.relative, parameters.spatialPower);
    if (!(sigma > parameters.spatialLow)) {
        return parameters.spatialLow;
    }
    return std::min(sigma, parameters.spatialHigh);
}

quendel::CpuTexture geometryGuide(const SurfaceGeometry& geometry,
                                  const QualityParameters& parameters) {
    quendel::CpuTexture guide(nullptr, static_cast<unsigned>(geometry.normals.cols),
                              static_cast<unsigned>(geometry.normals.rows), 0, true);
    appendGuideChannels(guide, geometry.normals, parameters.normalDeviation);
    appendGuideChannels(guide, geometry.planeOffsets,
                        parameters.offsetDeviation * geometry.medianDistance);
    if (parameters.positionDeviation > 0.0f) {
        appendGuideChannels(guide, geometry.positions,
                            parameters.positionDeviation * geometry.medianDistance);
    }
    return guide;
}

// The geometry guide with its normals (its first three planes) counting
// 1 / `factor` as much; its other planes shared.
quendel::CpuTexture withWeakerNormals(const quendel::CpuTexture& guide, float factor) {
    quendel::CpuTexture weaker = guide.clone(0b111u);
    const size_t pixels = weaker.getPixelsCount();
    for (unsigned c = 0; c < 3; ++c) {
        float* plane = weaker.getChannel(c);
        for (size_t i = 0; i < pixels; ++i) plane[i] /= factor;
    }
    return weaker;
}

// The filtered luminance turned, in place, into a guide channel in units of
// the noise left after filtering. Path-traced noise grows with the light, so
// the logarithm (whose noise is the relative noise) keeps a bright region's
// noise from passing for edges.
void toLightGuideChannel(quendel::CpuTexture& brightness, const LayerNoise& noise, float sigmaS,
                         const QualityParameters& parameters) {
    const float level = noise.deviation / noise.relative;
    const float residual = noise.relative * std::pow(sigmaS, -parameters.residualPower);
    cv::Mat values(static_cast<int>(brightness.getHeight()),
                   static_cast<int>(brightness.getWidth()), CV_32F, brightness.getChannel(0));
    cv::max(values, 0.0f, values);
    values += parameters.logFloor * level;
    cv::log(values, values);
    values *= 1.0 / (parameters.lightDeviation * residual);
}

// Glossy light changes sharply at the edges of shiny surfaces, whose pixels
// a 3 x 3 neighbourhood takes for outliers: spreading their light would
// carry a mirror's reflection onto what surrounds it.
enum class Outliers { Spread, Keep };

// Filters one light layer under its colour (the texture colour, or the
// glossy colour): silent pixels filled in first, then outliers, then a pass
// under the geometry guide, then passes whose guide also holds the previous
// pass's light.
// Every pass filters the same outlier-free layer; only the guide improves.
// The earlier passes only feed the guide, which needs the luminance alone,
// and the filter is linear in the image, so they filter that one channel.
// The result is scaled so that the light it reflects off its colour (times
// that colour, summed) is what the noisy layer reflects: the
// outliers' spreading and the edge-aware weights move light between
// surfaces of different colour, and the frame must keep its brightness.
// `responding` marks the pixels that hold a sample of the layer
// (respondingPixels of its colour).
cv::Mat filterLayer(const cv::Mat& noisyLight, const cv::Mat& texColor, const cv::Mat& responding,
                    const quendel::CpuTexture& layerGeometry, const cv::Mat& flat,
                    const QualityParameters& parameters, Outliers outliers) {
    const cv::Mat light = fillSilentPixels(noisyLight, responding, kFillReach);
    const cv::Mat brightness = luminance(light);
    const LayerNoise noise = measureNoise(brightness, flat & responding);
    if (!(noise.relative >= parameters.leastRelativeNoise)) {
        // Next to no noise: filtering would only soften the layer's edges.
        return noisyLight.clone();
    }
    float sigmaS = spatialSigmaFor(noise, parameters);
    const OutlierRule rule{parameters.fireflySpread, kFireflyFloorInNoise * noise.deviation,
                           parameters.fireflyReach};
    PlanarLight planar =
        outliers == Outliers::Spread
            ? planarLight(separateFireflies(light, brightness, rule.spread, rule.floor, rule.reach))
            : planarLight(light);
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    // The first pass, under the geometry alone, feeds the next pass's guide
    // and tells whether the light has edges of its own: without, the later
    // passes filter wider. Its light joins the guide in units of its own
    // residual noise.
    quendel::CpuTexture firstPass = planar.brightness.clone(1u);
    filter.process(firstPass, layerGeometry, sigmaS, kUnitRange);
    quendel::CpuTexture geometry = layerGeometry;
    LayerJudge judge(planar.brightness, firstPass, layerGeometry, texColor, sigmaS, brightness,
                     outliers == Outliers::Spread ? &rule : nullptr);
    // The normals as weak as plainly pays: a quarter as strong, else half
    // (a larger step stands out more clearly from the judging's own noise).
    // The first pass then runs again under the guide the later passes take.
    float weakening = 1.0f;
    for (float factor = parameters.normalLoosening; factor >= 2.0f; factor /= 2.0f) {
        if (judge.adoptIfPays([factor](const quendel::CpuTexture& window) {
                return withWeakerNormals(window, factor);
            })) {
            weakening = factor;
            break;
        }
    }
    if (weakening > 1.0f) {
        geometry = withWeakerNormals(layerGeometry, weakening);
        firstPass = planar.brightness.clone(1u);
        filter.process(firstPass, geometry, sigmaS, kUnitRange);
    }
    const float firstSigma = sigmaS;
    if (parameters.widenSmoothLight) {
        sigmaS *= judge.widerScale();
    }
    quendel::CpuTexture guide = geometry;
    for (int pass = 1; pass < parameters.passes; ++pass) {
        quendel::CpuTexture passBrightness = firstPass;
        if (pass > 1) {
            passBrightness =
                pass + 1 < parameters.passes ? planar.brightness.clone(1u) : planar.brightness;
            filter.process(passBrightness, guide, sigmaS, kUnitRange);
        }
        toLightGuideChannel(passBrightness, noise, pass == 1 ? firstSigma : sigmaS, parameters);
        guide = geometry;
        guide.appendPlane(passBrightness.planeHandle(0));
    }
    planar.brightness = quendel::CpuTexture();
    filter.process(planar.image, guide, sigmaS, kUnitRange);
    const cv::Vec3d before = reflectedLight(light, texColor);
    const cv::Vec3d after = reflectedLight(planar.image, texColor);
    cv::Vec3f scale(1, 1, 1);
    for (int c = 0; c < 3; ++c) {
        if (after[c] > 0.0 && before[c] > 0.0) {
            scale[c] = static_cast<float>(before[c] / after[c]);
        }
    }
    cv::Mat filtered = interleavedScaled(planar.image, scale);
    // Silent pixels keep what they had: the background passes through.
    noisyLight.copyTo(filtered, ~responding);
    return filtered;
}

// Runs the work of the two layers side by side, each with a filter of its
// own on half the processors: much of each one's work runs on one thread.
// A failure on either side is passed on once both have stopped.
void sideBySide(const std::function<void()>& first, const std::function<void()>& second) {
    std::exception_ptr failed;
    std::thread beside([&] {
        const quendel::TeamShare half(2);
        try {
            first();
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        const quendel::TeamShare half(2);
        second();
    } catch (...) {
        beside.join();
        throw;
    }
    beside.join();
    if (failed) {
        std::rethrow_exception(failed);
    }
}

}  // namespace

QualityLight filterLightForQuality(const Frame& frame, const QualityParameters& parameters,
                                   int64_t& ticks) {
    const int64_t start = cv::getTickCount();
    const cv::Mat surfaces = surfacePixels(frame);
    const SurfaceGeometry geometry =
        surfaceGeometry(frame[Normals], frame[Positions], frame.camera, surfaces);
    const cv::Mat flat = flatGeometryMask(geometry.normals, geometry.planeOffsets, kFlatNormalStep,
                                          kFlatOffsetStep * geometry.medianDistance);
    const quendel::CpuTexture guide = geometryGuide(geometry, parameters);
    // Both diffuse layers hold samples where the texture colour responds.
    const cv::Mat diffuse = respondingPixels(frame[TexColor], surfaces);
    QualityLight light;
    sideBySide(
        [&] {
            light.primary = filterLayer(frame[Primary], frame[TexColor], diffuse, guide, flat,
                                        parameters, Outliers::Spread);
        },
        [&] {
            light.secondary = filterLayer(frame[Secondary], frame[TexColor], diffuse, guide, flat,
                                          parameters, Outliers::Spread);
        });
    // A third layer would leave one of the two threads idle for as long as
    // it takes; alone it has the whole team.
    if (!frame.glossyLight.empty()) {
        light.glossy = filterLayer(frame.glossyLight, frame.glossyColor,
                                   respondingPixels(frame.glossyColor, surfaces), guide, flat,
                                   parameters, Outliers::Keep);
    }
    ticks = cv::getTickCount() - start;
    return light;
}

DenoisedFrame denoiseForQuality(const Frame& frame, const QualityParameters& parameters) {
    int64_t ticks = 0;
    const QualityLight light = filterLightForQuality(frame, parameters, ticks);
    DenoisedFrame result;
    result.image = recombine(light.primary, light.secondary, frame[TexColor], frame[Rest]);
    if (!light.glossy.empty()) {
        result.image += frame.glossyColor.mul(light.glossy - frame.glossyLight);
    }
    if (parameters.smoothEdges) {
        const int64_t start = cv::getTickCount();
        result.image = smoothAntiAliasedEdges(result.image, frame[Normals]);
        ticks += cv::getTickCount() - start;
    }
    result.seconds = static_cast<double>(ticks) / cv::getTickFrequency();
    return result;
}

}  // namespace filtering
