// The quality mode on frames as other renderers write them: black surfaces
// and background that hold no light, a sky over most of the frame, light
// made of a few bright samples among zeros, and glossy light in layers of
// its own.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>

#include "quality_mode/quality_pipeline.h"

using namespace filtering;

namespace {

struct FrameShape {
    int skyRows = 0;      // background above this row
    bool mortar = false;  // black lines every eighth row and column
    bool sparse = false;  // the secondary light as rare bright samples
    bool glossy = false;  // glossy layers of their own
};

struct OutdoorFrame {
    Frame frame;
    cv::Mat clean;  // the beauty without noise
    cv::Mat wall;   // CV_8U: pixels of the wall that reflect light
};

constexpr int kWidth = 96, kHeight = 72;
const cv::Vec3f kSky(0.8f, 0.5f, 0.3f);

bool isMortar(const FrameShape& shape, int x, int y) {
    return shape.mortar && (x % 8 == 0 || y % 8 == 0);
}

// Independent noise of mean 1: lognormal, heavy-tailed as path tracing's.
float noiseFactor(cv::RNG& random, float sigma) {
    return std::exp(static_cast<float>(random.gaussian(sigma)) - 0.5f * sigma * sigma);
}

// A wall facing the camera below a sky; smooth light across the wall.
OutdoorFrame outdoorFrame(const FrameShape& shape, uint64_t seed) {
    OutdoorFrame made;
    Frame& frame = made.frame;
    frame.camera = {0.0f, 0.0f, 0.0f};
    frame.settings = {0.3f, 4.0f};
    for (cv::Mat& layer : frame.layers) {
        layer.create(kHeight, kWidth, CV_32FC3);
        layer.setTo(cv::Scalar::all(0));
    }
    if (shape.glossy) {
        frame.glossyLight = cv::Mat::zeros(kHeight, kWidth, CV_32FC3);
        frame.glossyColor = cv::Mat::zeros(kHeight, kWidth, CV_32FC3);
    }
    made.clean.create(kHeight, kWidth, CV_32FC3);
    made.wall = cv::Mat::zeros(kHeight, kWidth, CV_8U);
    cv::RNG random(seed);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (y < shape.skyRows) {
                const cv::Vec3f sky = kSky * (1.0f + 0.002f * static_cast<float>(y));
                if (x < 10) {
                    // Some renderers write colour and light for the background too.
                    frame[TexColor].at<cv::Vec3f>(y, x) = cv::Vec3f::all(0.2f);
                    frame[Primary].at<cv::Vec3f>(y, x) = sky * noiseFactor(random, 0.5f);
                }
                frame[Rest].at<cv::Vec3f>(y, x) = sky - 0.2f * frame[Primary].at<cv::Vec3f>(y, x);
                made.clean.at<cv::Vec3f>(y, x) = sky;
                continue;
            }
            frame[Normals].at<cv::Vec3f>(y, x) = cv::Vec3f(1, 0, 0);
            frame[Positions].at<cv::Vec3f>(y, x) =
                cv::Vec3f(-4.0f, 0.05f * static_cast<float>(y), 0.05f * static_cast<float>(x));
            if (isMortar(shape, x, y)) {
                continue;  // no diffuse response: no light written, the beauty 0
            }
            const cv::Vec3f colour(0.5f, 0.6f, 0.7f);
            const float ramp = 0.6f + 0.004f * static_cast<float>(x);
            const cv::Vec3f direct = cv::Vec3f(1.0f, 0.9f, 0.8f) * ramp;
            const cv::Vec3f indirect(0.2f, 0.2f, 0.25f);
            frame[TexColor].at<cv::Vec3f>(y, x) = colour;
            frame[Primary].at<cv::Vec3f>(y, x) = direct * noiseFactor(random, 0.5f);
            const float indirectNoise = shape.sparse
                                            ? (random.uniform(0.0f, 1.0f) < 0.1f ? 10.0f : 0.0f)
                                            : noiseFactor(random, 0.5f);
            frame[Secondary].at<cv::Vec3f>(y, x) = indirect * indirectNoise;
            cv::Vec3f clean = colour.mul(direct + indirect);
            if (shape.glossy) {
                const cv::Vec3f glossyColour(0.3f, 0.3f, 0.3f), glossy(0.5f, 0.5f, 0.5f);
                frame.glossyColor.at<cv::Vec3f>(y, x) = glossyColour;
                frame.glossyLight.at<cv::Vec3f>(y, x) = glossy * noiseFactor(random, 0.8f);
                frame[Rest].at<cv::Vec3f>(y, x) =
                    glossyColour.mul(frame.glossyLight.at<cv::Vec3f>(y, x));
                clean += glossyColour.mul(glossy);
            }
            made.clean.at<cv::Vec3f>(y, x) = clean;
            made.wall.at<uchar>(y, x) = 255;
        }
    }
    return made;
}

cv::Mat noisyBeauty(const Frame& frame) {
    return recombine(frame[Primary], frame[Secondary], frame[TexColor], frame[Rest]);
}

double rmsError(const cv::Mat& image, const cv::Mat& clean, const cv::Mat& mask) {
    const double norm = cv::norm(image, clean, cv::NORM_L2, mask);
    return norm / std::sqrt(3.0 * cv::countNonZero(mask));
}

// The beauty's mean over the marked pixels, relative to the clean one's.
double meanRatio(const cv::Mat& image, const cv::Mat& clean, const cv::Mat& mask) {
    const cv::Scalar a = cv::mean(image, mask), b = cv::mean(clean, mask);
    return (a[0] + a[1] + a[2]) / (b[0] + b[1] + b[2]);
}

// Wall pixels beside a mortar line, and those at least three pixels away.
cv::Mat besideMortar(const OutdoorFrame& made, bool beside) {
    cv::Mat marks = cv::Mat::zeros(kHeight, kWidth, CV_8U);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int across = std::min(x % 8, 8 - x % 8), along = std::min(y % 8, 8 - y % 8);
            const bool near = std::min(across, along) == 1;
            const bool far = std::min(across, along) >= 3;
            if (made.wall.at<uchar>(y, x) != 0 && (beside ? near : far)) {
                marks.at<uchar>(y, x) = 255;
            }
        }
    }
    return marks;
}

}  // namespace

TEST(QualityOutdoor, BackgroundAndBlackSurfacesPassThroughAndLeaveNoHalo) {
    const OutdoorFrame made = outdoorFrame({20, true, false, false}, 5);
    const cv::Mat result = denoiseForQuality(made.frame).image;
    ASSERT_TRUE(cv::checkRange(result));
    // The sky and the mortar are what the frame said, bit for bit.
    const cv::Mat silent = made.wall == 0;
    EXPECT_EQ(cv::norm(result, noisyBeauty(made.frame), cv::NORM_INF, silent), 0.0);
    // The wall is filtered, and the light beside the mortar is neither
    // darkened by the mortar's zeros nor brighter than the rest.
    const cv::Mat noisy = noisyBeauty(made.frame);
    EXPECT_LT(rmsError(result, made.clean, made.wall),
              0.5 * rmsError(noisy, made.clean, made.wall));
    const double beside = meanRatio(result, made.clean, besideMortar(made, true));
    const double away = meanRatio(result, made.clean, besideMortar(made, false));
    EXPECT_NEAR(beside, away, 0.02) << "beside " << beside << ", away " << away;
    EXPECT_NEAR(meanRatio(result, noisy, made.wall), 1.0, 0.01);
}

TEST(QualityOutdoor, AFrameMostlySkyStillHasItsNoiseMeasured) {
    // Four fifths of the frame is background with no light at all.
    for (const int skyRows : {0, 40, 58}) {
        const OutdoorFrame made = outdoorFrame({skyRows, false, false, false}, 7);
        const cv::Mat noisy = noisyBeauty(made.frame);
        const cv::Mat result = denoiseForQuality(made.frame).image;
        EXPECT_LT(rmsError(result, made.clean, made.wall),
                  0.5 * rmsError(noisy, made.clean, made.wall))
            << skyRows << " rows of sky";
    }
}

TEST(QualityOutdoor, SparseLightIsMeasuredOnBlocksAndFiltered) {
    // Nine pixels in ten of the secondary light hold no sample: a median
    // and its deviation see no noise there, but the light is all noise.
    const OutdoorFrame made = outdoorFrame({0, false, true, false}, 9);
    int64_t ticks = 0;
    const QualityLight light = filterLightForQuality(made.frame, QualityParameters(), ticks);
    const cv::Mat clean(kHeight, kWidth, CV_32FC3, cv::Scalar(0.25, 0.2, 0.2));
    const cv::Mat all = made.wall;
    EXPECT_LT(rmsError(light.secondary, clean, all),
              0.25 * rmsError(made.frame[Secondary], clean, all));
}

TEST(QualityOutdoor, GlossyLayersAreFilteredAndKeepTheirLight) {
    const OutdoorFrame made = outdoorFrame({20, false, false, true}, 11);
    const cv::Mat result = denoiseForQuality(made.frame).image;
    ASSERT_TRUE(cv::checkRange(result));
    int64_t ticks = 0;
    const QualityLight light = filterLightForQuality(made.frame, QualityParameters(), ticks);
    ASSERT_FALSE(light.glossy.empty());
    const cv::Mat cleanGlossy(kHeight, kWidth, CV_32FC3, cv::Scalar::all(0.5));
    EXPECT_LT(rmsError(light.glossy, cleanGlossy, made.wall),
              0.4 * rmsError(made.frame.glossyLight, cleanGlossy, made.wall));
    const cv::Mat noisy = noisyBeauty(made.frame);
    EXPECT_NEAR(meanRatio(result, noisy, made.wall), 1.0, 0.01);
    EXPECT_EQ(cv::norm(result, noisy, cv::NORM_INF, made.wall == 0), 0.0);
}

namespace {

// Flat ground seen from a metre above it, the horizon at row 20, under
// light that rises and falls every 3 metres of depth: near the camera a
// swell spans many rows, towards the horizon a few.
struct Ground {
    Frame frame;
    cv::Mat clean;  // the secondary light without noise
    cv::Mat depth;  // CV_32F, metres; 0 for the sky
};

Ground receding(uint64_t seed) {
    constexpr float kFocal = 60.0f, kHorizon = 20.0f;
    Ground ground;
    Frame& frame = ground.frame;
    frame.camera = {0.0f, 1.0f, 0.0f};
    frame.settings = {0.3f, 4.0f};
    for (cv::Mat& layer : frame.layers) layer = cv::Mat::zeros(kHeight, kWidth, CV_32FC3);
    ground.clean = cv::Mat::zeros(kHeight, kWidth, CV_32FC3);
    ground.depth = cv::Mat::zeros(kHeight, kWidth, CV_32F);
    cv::RNG random(seed);
    for (int y = int(kHorizon) + 1; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float z = kFocal / (float(y) - kHorizon);
            const float lateral = z * (float(x) - 0.5f * kWidth) / kFocal;
            frame[Positions].at<cv::Vec3f>(y, x) = {z, 0.0f, lateral};  // working order z, y, x
            frame[Normals].at<cv::Vec3f>(y, x) = {0.0f, 1.0f, 0.0f};
            frame[TexColor].at<cv::Vec3f>(y, x) = cv::Vec3f::all(0.6f);
            frame[Primary].at<cv::Vec3f>(y, x) = cv::Vec3f::all(0.5f);
            const cv::Vec3f light =
                cv::Vec3f::all(0.3f * (1.0f + 0.6f * std::sin(6.2832f * z / 3.0f)));
            ground.clean.at<cv::Vec3f>(y, x) = light;
            frame[Secondary].at<cv::Vec3f>(y, x) = light * noiseFactor(random, 0.5f);
            ground.depth.at<float>(y, x) = z;
        }
    }
    return ground;
}

}  // namespace

TEST(QualityOutdoor, GroundRecedingToTheHorizonIsNotSmeared) {
    const Ground ground = receding(13);
    QualityParameters screenOnly;
    screenOnly.positionDeviation = 0.0f;
    int64_t ticks = 0;
    const cv::Mat withPositions =
        filterLightForQuality(ground.frame, QualityParameters(), ticks).secondary;
    const cv::Mat without = filterLightForQuality(ground.frame, screenOnly, ticks).secondary;
    // Where a swell spans a few rows the filter that follows screen
    // distance alone averages it away; near the camera both keep it.
    const cv::Mat middle = (ground.depth > 4.0f) & (ground.depth < 12.0f);
    const cv::Mat near = (ground.depth > 0.0f) & (ground.depth < 3.0f);
    ASSERT_GT(cv::countNonZero(middle), 500);
    EXPECT_LT(rmsError(withPositions, ground.clean, middle),
              0.7 * rmsError(without, ground.clean, middle));
    EXPECT_LT(rmsError(withPositions, ground.clean, near),
              1.1 * rmsError(without, ground.clean, near));
}
