// Whether a layer's light takes a filter twice as wide: light without edges
// of its own does, shadows and patterned light do not.
#include "quality_mode/wider_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>

#include "quality_mode/light_planes.h"
#include "quality_mode/noise_estimate.h"
#include "quality_mode/quality_pipeline.h"
#include "quendel/tdr_filter.h"

using namespace filtering;

namespace {

constexpr int kWidth = 160, kHeight = 120;

float noiseFactor(cv::RNG& random, float sigma) {
    return std::exp(static_cast<float>(random.gaussian(sigma)) - 0.5f * sigma * sigma);
}

// A flat wall facing the camera: its geometry guide is the same everywhere.
quendel::CpuTexture flatWallGuide() {
    quendel::CpuTexture guide(nullptr, kWidth, kHeight, 4, false);
    for (unsigned c = 0; c < 4; ++c) {
        std::fill(guide.getChannel(c), guide.getChannel(c) + kWidth * kHeight,
                  c == 0 ? 1.0f : 0.0f);
    }
    return guide;
}

quendel::CpuTexture planeOf(const cv::Mat& image) {
    CV_Assert(image.isContinuous() && image.type() == CV_32F);
    return quendel::CpuTexture(image.ptr<float>(), kWidth, kHeight, 1, false);
}

// Light that rises slowly across the wall, or falls into the shadows of a
// grid of bars; either with lognormal noise of mean 1.
cv::Mat wallLight(bool shadows, float noise, uint64_t seed) {
    cv::Mat light(kHeight, kWidth, CV_32F);
    cv::RNG random(seed);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float ramp = 0.4f + 0.003f * static_cast<float>(x + y);
            const bool shaded = shadows && ((x / 6) % 2 == 0 || (y / 6) % 2 == 0);
            light.at<float>(y, x) = (shaded ? 0.15f * ramp : ramp) * noiseFactor(random, noise);
        }
    }
    return light;
}

float widerScale(const cv::Mat& light, const cv::Mat& colour, float sigmaS) {
    const quendel::CpuTexture guide = flatWallGuide();
    const quendel::CpuTexture brightness = planeOf(light);
    quendel::CpuTexture filtered = brightness.clone(1u);
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    filter.process(filtered, guide, sigmaS, 1.0f);
    return widerFilterScale(brightness, filtered, guide, colour, sigmaS, light, nullptr);
}

// Runs the mode's light with every judging and with `fixed`, which skips
// one of them: where the judging must leave the light alone the two agree
// to the bit; elsewhere the judged light's error against `clean` is under
// `share` of the fixed one's.
void expectJudgingPays(const Frame& frame, const QualityParameters& fixed, const cv::Mat& clean,
                       bool leftAlone, double share) {
    int64_t ticks = 0;
    const cv::Mat judged =
        luminance(filterLightForQuality(frame, QualityParameters(), ticks).secondary);
    const cv::Mat unjudged = luminance(filterLightForQuality(frame, fixed, ticks).secondary);
    if (leftAlone) {
        EXPECT_EQ(cv::norm(judged, unjudged, cv::NORM_INF), 0.0);
    } else {
        EXPECT_LT(cv::norm(judged, clean), share * cv::norm(unjudged, clean));
    }
}

}  // namespace

TEST(WiderFilter, PaysForLightWithoutEdgesOnly) {
    const cv::Mat grey(kHeight, kWidth, CV_32FC3, cv::Scalar::all(0.5));
    for (const uint64_t seed : {1u, 2u, 3u}) {
        for (const float noise : {0.6f, 1.2f}) {
            const float scale = widerScale(wallLight(false, noise, seed), grey, 4.0f);
            EXPECT_GT(scale, 2.5f) << "smooth light, noise " << noise << ", seed " << seed;
            EXPECT_LE(scale, 3.0f);
        }
        EXPECT_EQ(widerScale(wallLight(true, 0.3f, seed), grey, 4.0f), 1.0f) << "seed " << seed;
    }
    // What shows on screen decides: light on a black wall shows nothing, so
    // nothing is gained by filtering it wider.
    const cv::Mat black(kHeight, kWidth, CV_32FC3, cv::Scalar::all(0));
    EXPECT_EQ(widerScale(wallLight(false, 1.2f, 1), black, 4.0f), 1.0f);
}

TEST(WiderFilter, NoiseWhoseOutliersWereSpreadIsJudgedAsTheLayersIs) {
    // Heavy-tailed noise (a few samples of a lognormal of sigma 1.8) whose
    // outliers were lowered and spread around, as the mode does: the spread
    // light makes the noise coarser than white noise of the same power, and
    // a judge that took it for white saw detail in it and filtered narrower
    // (1.7 to 2.4 times for these seeds).
    const cv::Mat grey(kHeight, kWidth, CV_32FC3, cv::Scalar::all(0.5));
    const quendel::CpuTexture guide = flatWallGuide();
    const OutlierRule rule{6.0f, 0.0f, 8.0f};
    for (const uint64_t seed : {1u, 2u, 3u}) {
        cv::Mat noisy = cv::Mat::zeros(kHeight, kWidth, CV_32F);
        for (int sample = 0; sample < 4; ++sample) {
            noisy += wallLight(false, 1.8f, seed * 10 + static_cast<uint64_t>(sample)) * 0.25;
        }
        cv::Mat colour;
        cv::merge(std::vector<cv::Mat>(3, noisy), colour);
        const PlanarLight separated =
            planarLight(separateFireflies(colour, noisy, rule.spread, rule.floor, rule.reach));
        quendel::CpuTexture filtered = separated.brightness.clone(1u);
        quendel::TDRFilter<quendel::CpuFiltering> filter;
        filter.process(filtered, guide, 4.0f, 1.0f);
        EXPECT_GT(widerFilterScale(separated.brightness, filtered, guide, grey, 4.0f, noisy, &rule),
                  2.5f)
            << "seed " << seed;
    }
}

TEST(WiderFilter, SmoothLightEndsCloserToTheTruthAndShadowsAreUntouched) {
    // The whole mode on a frame of the wall, with and without the judging.
    for (const bool shadows : {false, true}) {
        Frame frame;
        frame.camera = {0.0f, 0.0f, 0.0f};
        for (cv::Mat& layer : frame.layers) layer = cv::Mat::zeros(kHeight, kWidth, CV_32FC3);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                frame[Normals].at<cv::Vec3f>(y, x) = {1, 0, 0};
                frame[Positions].at<cv::Vec3f>(y, x) = {-4.0f, 0.05f * float(y), 0.05f * float(x)};
                frame[TexColor].at<cv::Vec3f>(y, x) = {0.5f, 0.6f, 0.7f};
            }
        }
        const cv::Mat clean = wallLight(shadows, 0.0f, 4);
        cv::merge(std::vector<cv::Mat>(3, clean), frame[Primary]);
        cv::merge(std::vector<cv::Mat>(3, wallLight(shadows, 0.9f, 4)), frame[Secondary]);
        QualityParameters narrow;
        narrow.widenSmoothLight = false;
        // 0.71 when the first pass's light joins the guide in units of the
        // wider filter's residual noise instead of its own.
        expectJudgingPays(frame, narrow, clean, shadows, 0.69);
    }
}

namespace {

// A wall of narrow facets, their normals turned 0.3 radians one way and
// the other in alternate pairs of columns: to the guide, an edge every two
// pixels. All of it seen at one point, so that only the normals tell the
// facets apart.
Frame facetedWall(const cv::Mat& light) {
    Frame frame;
    frame.camera = {0.0f, 0.0f, 0.0f};
    for (cv::Mat& layer : frame.layers) layer = cv::Mat::zeros(kHeight, kWidth, CV_32FC3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float turn = (x / 2) % 2 == 0 ? 0.3f : -0.3f;
            frame[Normals].at<cv::Vec3f>(y, x) = {std::cos(turn), std::sin(turn), 0.0f};
            frame[Positions].at<cv::Vec3f>(y, x) = {-4.0f, 0.0f, 0.0f};
            frame[TexColor].at<cv::Vec3f>(y, x) = {0.5f, 0.6f, 0.7f};
        }
    }
    cv::merge(std::vector<cv::Mat>(3, light), frame[Secondary]);
    return frame;
}

// Light on the facets that ignores their turn (indirect light), or that
// follows it (one way lit, the other in shade), with lognormal noise.
cv::Mat facetLight(bool followsFacets, float noise, uint64_t seed) {
    cv::Mat light = wallLight(false, noise, seed);
    if (followsFacets) {
        for (int x = 0; x < kWidth; x += 4) light.colRange(x, std::min(x + 2, kWidth)) *= 0.2;
    }
    return light;
}

}  // namespace

TEST(WiderFilter, NormalsCountLessWhereTheLightIgnoresThem) {
    QualityParameters strict;
    strict.normalLoosening = 1.0f;
    for (const bool followsFacets : {false, true}) {
        expectJudgingPays(facetedWall(facetLight(followsFacets, 0.9f, 5)), strict,
                          facetLight(followsFacets, 0.0f, 5), followsFacets, 0.6);
    }
}
