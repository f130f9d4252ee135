#include "quality_pipeline.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <vector>

#include "firefly_suppression.h"
#include "geometry_guide.h"
#include "median.h"
#include "noise_estimate.h"
#include "quendel/tdr_filter.h"

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

LayerNoise measureNoise(const cv::Mat& brightness, const cv::Mat& flatGeometry) {
    // Where a pixel and its neighbours are all dark (full shadow) the layer
    // holds no noise to measure; leaving them out keeps a mostly shadowed
    // layer from reading as noise-free.
    cv::Mat neighbourhood;
    cv::boxFilter(brightness, neighbourhood, -1, cv::Size(3, 3));
    const cv::Mat lit = neighbourhood > 0.0f;
    cv::Mat measured = lit & flatGeometry;
    // Geometry that is nowhere flat (bumpy normals, say) leaves too few
    // pixels; then the whole lit frame is measured, edges and all, which
    // the median's robustness tolerates.
    if (cv::countNonZero(measured) < std::max<int>(kFewestMeasured, lit.total() / 100)) {
        measured = lit;
    }
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

// The filtered luminance as a guide channel in units of the noise left after
// filtering. Path-traced noise grows with the light, so the logarithm (whose
// noise is the relative noise) keeps a bright region's noise from passing
// for edges.
cv::Mat lightGuideChannel(const cv::Mat& brightness, const LayerNoise& noise, float sigmaS,
                          const QualityParameters& parameters) {
    const float level = noise.deviation / noise.relative;
    cv::Mat logarithm;
    cv::log(cv::max(brightness, 0.0f) + parameters.logFloor * level, logarithm);
    const float residual = noise.relative * std::pow(sigmaS, -parameters.residualPower);
    return logarithm / (parameters.lightDeviation * residual);
}

// The first plane of `texture` seen as an image, valid while the texture is.
cv::Mat planeView(const quendel::CpuTexture& texture) {
    return cv::Mat(static_cast<int>(texture.getHeight()), static_cast<int>(texture.getWidth()),
                   CV_32F, const_cast<float*>(texture.getChannel(0)));
}

// Filters one light layer: outliers first, then a pass under the geometry
// guide, then passes whose guide also holds the previous pass's light.
// Every pass filters the same outlier-free layer; only the guide improves.
// The earlier passes only feed the guide, which needs the luminance alone,
// and the filter is linear in the image, so they filter that one channel.
cv::Mat filterLayer(const cv::Mat& light, const quendel::CpuTexture& geometry, const cv::Mat& flat,
                    const QualityParameters& parameters,
                    quendel::TDRFilter<quendel::CpuFiltering>& filter) {
    const cv::Mat brightness = luminance(light);
    const LayerNoise noise = measureNoise(brightness, flat);
    if (!(noise.relative >= parameters.leastRelativeNoise)) {
        // Next to no noise: filtering would only soften the layer's edges.
        return light.clone();
    }
    const float sigmaS = spatialSigmaFor(noise, parameters);
    const cv::Mat kept =
        suppressFireflies(light, brightness, parameters.fireflySpread,
                          kFireflyFloorInNoise * noise.deviation, parameters.fireflyReach);
    quendel::CpuTexture guide = geometry;
    for (int pass = 1; pass < parameters.passes; ++pass) {
        quendel::CpuTexture passBrightness = toTexture(luminance(kept));
        filter.process(passBrightness, guide, sigmaS, kUnitRange);
        guide = geometry;
        appendGuideChannels(
            guide, lightGuideChannel(planeView(passBrightness), noise, sigmaS, parameters), 1.0f);
    }
    quendel::CpuTexture image = toTexture(kept);
    filter.process(image, guide, sigmaS, kUnitRange);
    return toInterleaved(image);
}

// Scales each channel of the filtered layer so that the light it reflects
// (times the texture colour) sums to what the noisy layer reflects: the
// outliers' spreading and the edge-aware weights move light between
// surfaces of different colour, and the frame must keep its brightness.
void keepReflectedLight(cv::Mat& filtered, const cv::Mat& noisy, const cv::Mat& texColor) {
    const cv::Scalar before = cv::sum(noisy.mul(texColor));
    const cv::Scalar after = cv::sum(filtered.mul(texColor));
    cv::Scalar scale(1, 1, 1);
    for (int c = 0; c < 3; ++c) {
        if (after[c] > 0.0 && before[c] > 0.0) {
            scale[c] = before[c] / after[c];
        }
    }
    cv::multiply(filtered, scale, filtered);
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
    // The two layers are filtered side by side: much of each one's work
    // runs on one thread. Each has a filter of its own.
    QualityLight light;
    std::thread primary([&] {
        quendel::TDRFilter<quendel::CpuFiltering> filter;
        light.primary = filterLayer(frame[Primary], guide, flat, parameters, filter);
    });
    {
        quendel::TDRFilter<quendel::CpuFiltering> filter;
        light.secondary = filterLayer(frame[Secondary], guide, flat, parameters, filter);
    }
    primary.join();
    keepReflectedLight(light.primary, frame[Primary], frame[TexColor]);
    keepReflectedLight(light.secondary, frame[Secondary], frame[TexColor]);
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
