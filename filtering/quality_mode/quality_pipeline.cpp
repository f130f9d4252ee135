#include "quality_mode/quality_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <vector>

#include "quality_mode/firefly_suppression.h"
#include "quality_mode/geometry_guide.h"
#include "quality_mode/light_planes.h"
#include "quality_mode/median.h"
#include "quality_mode/noise_estimate.h"
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

struct LayerNoise {
    float deviation = 0;  // absolute, in luminance
    float relative = 0;   // over the median luminance of the measured pixels
};

// The median of the marked values on every second row, which is plenty.
float medianOver(const cv::Mat& image, const cv::Mat& mask) {
    std::vector<float> values;
    values.reserve(image.total() / 2);
    for (int row = 0; row < image.rows; row += 2) {
        const float* value = image.ptr<float>(row);
        const uchar* marked = mask.ptr<uchar>(row);
        for (int column = 0; column < image.cols; ++column) {
            if (marked[column] != 0 && std::isfinite(value[column])) {
                values.push_back(value[column]);
            }
        }
    }
    return medianInPlace(values);
}

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

LayerNoise measureNoise(const cv::Mat& brightness, const cv::Mat& flatGeometry) {
    int litAndFlat = 0;
    const cv::Mat marks = litPixels(brightness, flatGeometry, litAndFlat);
    // Geometry that is nowhere flat (bumpy normals, say) leaves too few
    // pixels; then the whole lit frame is measured, edges and all, which
    // the median's robustness tolerates.
    const bool flatEnough =
        litAndFlat >= std::max<int>(kFewestMeasured, static_cast<int>(brightness.total() / 100));
    const cv::Mat measured = flatEnough ? marks == 3 : marks != 0;
    LayerNoise noise;
    noise.deviation = estimateNoise(brightness, measured);
    const float level = medianOver(brightness, measured);
    noise.relative = level > 0.0f ? noise.deviation / level : 0.0f;
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
    return guide;
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

// Filters one light layer: outliers first, then a pass under the geometry
// guide, then passes whose guide also holds the previous pass's light.
// Every pass filters the same outlier-free layer; only the guide improves.
// The earlier passes only feed the guide, which needs the luminance alone,
// and the filter is linear in the image, so they filter that one channel.
// The result is scaled so that the light it reflects off the texture colour
// (times that colour, summed) is what the noisy layer reflects: the
// outliers' spreading and the edge-aware weights move light between
// surfaces of different colour, and the frame must keep its brightness.
cv::Mat filterLayer(const cv::Mat& light, const cv::Mat& texColor,
                    const quendel::CpuTexture& geometry, const cv::Mat& flat,
                    const QualityParameters& parameters) {
    const cv::Mat brightness = luminance(light);
    const LayerNoise noise = measureNoise(brightness, flat);
    if (!(noise.relative >= parameters.leastRelativeNoise)) {
        // Next to no noise: filtering would only soften the layer's edges.
        return light.clone();
    }
    const float sigmaS = spatialSigmaFor(noise, parameters);
    PlanarLight planar = planarLight(separateFireflies(light, brightness, parameters.fireflySpread,
                                                       kFireflyFloorInNoise * noise.deviation,
                                                       parameters.fireflyReach));
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    quendel::CpuTexture guide = geometry;
    for (int pass = 1; pass < parameters.passes; ++pass) {
        quendel::CpuTexture passBrightness =
            pass + 1 < parameters.passes ? planar.brightness.clone(1u) : planar.brightness;
        filter.process(passBrightness, guide, sigmaS, kUnitRange);
        toLightGuideChannel(passBrightness, noise, sigmaS, parameters);
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
    return interleavedScaled(planar.image, scale);
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
    const SurfaceGeometry geometry =
        surfaceGeometry(frame[Normals], frame[Positions], frame.camera);
    const cv::Mat flat = flatGeometryMask(geometry.normals, geometry.planeOffsets, kFlatNormalStep,
                                          kFlatOffsetStep * geometry.medianDistance);
    const quendel::CpuTexture guide = geometryGuide(geometry, parameters);
    QualityLight light;
    sideBySide(
        [&] {
            light.primary = filterLayer(frame[Primary], frame[TexColor], guide, flat, parameters);
        },
        [&] {
            light.secondary =
                filterLayer(frame[Secondary], frame[TexColor], guide, flat, parameters);
        });
    ticks = cv::getTickCount() - start;
    return light;
}

DenoisedFrame denoiseForQuality(const Frame& frame, const QualityParameters& parameters) {
    int64_t ticks = 0;
    const QualityLight light = filterLightForQuality(frame, parameters, ticks);
    DenoisedFrame result;
    result.image = recombine(light.primary, light.secondary, frame[TexColor], frame[Rest]);
    result.seconds = static_cast<double>(ticks) / cv::getTickFrequency();
    return result;
}

}  // namespace filtering
