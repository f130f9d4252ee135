// The quality mode: its noise estimate on frames of known noise, its outlier
// handling, and its frame from a rendered sample of the test room, in memory
// and through the program; and the default run's output, which must not
// change with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <opencv2/core.hpp>
#include <vector>

#include "frame_files.h"
#include "image_stats.h"
#include "program_run.h"
#include "quality_mode/firefly_suppression.h"
#include "quality_mode/light_planes.h"
#include "quality_mode/median.h"
#include "quality_mode/noise_estimate.h"
#include "quality_mode/quality_pipeline.h"
#include "test_files.h"
#include "working_frame.h"

using namespace filtering;

namespace {

// A smooth ramp under independent noise: Gaussian of `deviation`, and one
// pixel in `outlierEvery` replaced by a value 50 deviations away.
cv::Mat rampUnderNoise(float deviation, int outlierEvery, uint64_t seed) {
    cv::Mat image(120, 160, CV_32F);
    cv::RNG random(seed);
    for (int row = 0; row < image.rows; ++row) {
        for (int column = 0; column < image.cols; ++column) {
            const float ramp = 0.5f + 0.002f * static_cast<float>(column + 2 * row);
            const bool outlier =
                outlierEvery > 0 && (row * image.cols + column) % outlierEvery == 0;
            image.at<float>(row, column) =
                ramp +
                (outlier ? 50.0f * deviation : static_cast<float>(random.gaussian(deviation)));
        }
    }
    return image;
}

cv::Mat everywhere(const cv::Mat& image) {
    return cv::Mat(image.size(), CV_8U, cv::Scalar(255));
}

double meanBrightness(const cv::Mat& image) {
    const cv::Scalar mean = cv::mean(image);
    return (mean[0] + mean[1] + mean[2]) / 3.0;
}

// A sample frame of the test room with its noisy combination and a reference.
struct RenderedRoom {
    static constexpr int kWidth = 96, kHeight = 72;
    const sample_frame::Scene scene = sample_frame::Scene::room();
    const sample_frame::FrameLayers layers =
        sample_frame::renderLayers(scene, {kWidth, kHeight, 2, 7, 0});
    const Frame frame =
        sample_frame::toFrame(layers, scene.camera.position, sample_frame::kSampleSettings);
    const cv::Mat noisy = sample_frame::toWorkingImage(layers.combined(), kWidth, kHeight);
    const cv::Mat reference = sample_frame::toWorkingImage(
        sample_frame::renderReference(scene, {kWidth, kHeight, 128, 7, 0}), kWidth, kHeight);
};

const RenderedRoom& renderedRoom() {
    static const RenderedRoom room;
    return room;
}

uint64_t fnv1a(const std::vector<char>& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (char byte : bytes) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 1099511628211ull;
    }
    return hash;
}

}  // namespace

TEST(NoiseEstimate, FindsTheDeviationOfKnownNoise) {
    for (float deviation : {0.002f, 0.02f, 0.2f}) {
        const cv::Mat image = rampUnderNoise(deviation, 0, 11);
        EXPECT_NEAR(estimateNoise(image, everywhere(image)), deviation, 0.05f * deviation);
        // One pixel in 200 far off (one high-pass value in 40) moves a robust
        // estimate only a little.
        const cv::Mat spiky = rampUnderNoise(deviation, 200, 12);
        EXPECT_NEAR(estimateNoise(spiky, everywhere(spiky)), deviation, 0.08f * deviation);
    }
}

TEST(NoiseEstimate, CountsOnlyMarkedPixelsAndNeedsSome) {
    cv::Mat image = rampUnderNoise(0.01f, 0, 13);
    cv::Mat mask = everywhere(image);
    // The right half is much noisier but left out.
    cv::Mat right = image.colRange(80, 160);
    right += rampUnderNoise(0.5f, 0, 14).colRange(80, 160) - 0.5f;
    mask.colRange(78, 160).setTo(0);
    EXPECT_NEAR(estimateNoise(image, mask), 0.01f, 0.0008f);
    EXPECT_EQ(estimateNoise(image, cv::Mat::zeros(image.size(), CV_8U)), 0.0f);
    EXPECT_EQ(estimateNoise(cv::Mat(1, 1, CV_32F, cv::Scalar(3)), cv::Mat(1, 1, CV_8U, 255)), 0.0f);
}

TEST(Median, SelectsTheMiddleValueOfAnyMixOfSignsTiesAndSpreads) {
    cv::RNG random(5);
    std::vector<std::vector<float>> cases = {
        {3.0f}, {2.0f, -1.0f}, {0.0f, -0.0f, 0.0f}, std::vector<float>(40000, 7.25f)};
    // Large sets, counted by their leading bits first: values spread over
    // many octaves and both signs, and values packed into one narrow range.
    std::vector<float> wide(70001), narrow(50000), tied(60000);
    for (float& value : wide) {
        value = static_cast<float>(random.gaussian(1.0) * std::exp(random.uniform(-20.0, 20.0)));
    }
    for (float& value : narrow) {
        value = 1.0f + static_cast<float>(random.uniform(0.0, 1e-4));
    }
    for (size_t i = 0; i < tied.size(); ++i) {
        tied[i] = static_cast<float>(i % 3) - 1.0f;
    }
    cases.push_back(wide);
    cases.push_back(narrow);
    cases.push_back(tied);
    for (const std::vector<float>& values : cases) {
        std::vector<float> sorted = values, work = values;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(medianInPlace(work), sorted[sorted.size() / 2]) << values.size() << " values";
    }
    std::vector<float> none;
    EXPECT_EQ(medianInPlace(none), 0.0f);
}

TEST(FlatGeometry, CreasesAndStepsAreNotFlat) {
    // Left half faces +x, right half +y; the lower rows sit on a farther plane.
    cv::Mat normals(10, 10, CV_32FC3, cv::Vec3f(1, 0, 0));
    normals.colRange(5, 10).setTo(cv::Vec3f(0, 1, 0));
    cv::Mat offsets(10, 10, CV_32F, cv::Scalar(2.0f));
    offsets.rowRange(6, 10).setTo(2.5f);
    const cv::Mat flat = flatGeometryMask(normals, offsets, 0.02f, 0.01f);
    EXPECT_EQ(flat.at<uchar>(2, 2), 255);
    EXPECT_EQ(flat.at<uchar>(2, 7), 255);
    EXPECT_EQ(flat.at<uchar>(2, 4), 0) << "beside the crease";
    EXPECT_EQ(flat.at<uchar>(2, 5), 0) << "beside the crease";
    EXPECT_EQ(flat.at<uchar>(5, 2), 0) << "above the step";
    EXPECT_EQ(flat.at<uchar>(0, 2), 0) << "the outer frame";
}

TEST(Fireflies, OutliersAreLoweredAndTheirLightKept) {
    // Even and odd sizes: the light is spread on 2 x 2 blocks, and a last odd
    // row or column has blocks of its own.
    for (const cv::Size size : {cv::Size(64, 64), cv::Size(65, 63)}) {
        cv::Mat light(size, CV_32FC3);
        cv::RNG random(21);
        random.fill(light, cv::RNG::UNIFORM, 0.4f, 0.6f);
        const cv::Mat calm = light.clone();
        light.at<cv::Vec3f>(20, 30) = cv::Vec3f(80, 60, 40);
        light.at<cv::Vec3f>(40, 10) = cv::Vec3f(30, 30, 30);
        light.at<cv::Vec3f>(size.height - 1, size.width - 1) = cv::Vec3f(20, 50, 20);
        // As the mode calls it: at least three noise deviations (0.2 /
        // sqrt(12) for this uniform noise) above the neighbourhood, however
        // calm it is.
        const float floor = 3.0f * 0.2f / std::sqrt(12.0f);

        const cv::Mat kept = suppressFireflies(light, 6.0f, floor, 4.0f);
        EXPECT_LT(kept.at<cv::Vec3f>(20, 30)[0], 2.0f);
        EXPECT_LT(kept.at<cv::Vec3f>(40, 10)[1], 2.0f);
        // In a corner more of the spread light stays close: a tenth of it.
        EXPECT_LT(kept.at<cv::Vec3f>(size.height - 1, size.width - 1)[1], 5.0f) << size;
        const cv::Scalar before = cv::sum(light), after = cv::sum(kept);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(after[c], before[c], 1e-4 * before[c]) << size << " channel " << c;
        }
        // The light is spread around the outlier, not across the frame.
        const cv::Mat added = kept - calm;
        EXPECT_GT(added.at<cv::Vec3f>(20, 36)[0], 0.01f) << size;
        EXPECT_EQ(added.at<cv::Vec3f>(20, 60)[0], 0.0f) << size;
        // A layer without outliers passes unchanged.
        const cv::Mat untouched = suppressFireflies(calm, 6.0f, floor, 4.0f);
        EXPECT_EQ(cv::norm(untouched, calm, cv::NORM_INF), 0.0) << size;
    }
}

TEST(QualityMode, RenderedRoomIsFiniteKeepsItsBrightnessAndBeatsTheDefault) {
    const RenderedRoom& room = renderedRoom();
    const DenoisedFrame quality = denoiseForQuality(room.frame);
    ASSERT_EQ(quality.image.size(), room.noisy.size());
    ASSERT_EQ(quality.image.type(), CV_32FC3);
    EXPECT_TRUE(cv::checkRange(quality.image));
    EXPECT_GT(quality.seconds, 0.0);
    EXPECT_NEAR(meanBrightness(quality.image) / meanBrightness(room.noisy), 1.0, 0.01);

    const double noisyPsnr = imagef4::psnr(room.noisy, room.reference);
    const double defaultPsnr = imagef4::psnr(denoise(room.frame).image, room.reference);
    const double qualityPsnr = imagef4::psnr(quality.image, room.reference);
    EXPECT_GT(qualityPsnr, defaultPsnr + 2.0)
        << "noisy " << noisyPsnr << ", default " << defaultPsnr;
}

TEST(QualityMode, BumpyNormalsStillLetTheNoiseBeMeasured) {
    // Normals that jitter from pixel to pixel leave no flat geometry to
    // measure the noise on; the mode must still filter.
    const RenderedRoom& room = renderedRoom();
    Frame frame = room.frame;
    cv::Mat jitter(frame[Normals].size(), CV_32FC3);
    cv::RNG(31).fill(jitter, cv::RNG::UNIFORM, -0.05f, 0.05f);
    frame[Normals] = cv::Mat(frame[Normals] + jitter);  // a new image: the room is shared
    const double noisyPsnr = imagef4::psnr(room.noisy, room.reference);
    const double bumpyPsnr = imagef4::psnr(denoiseForQuality(frame).image, room.reference);
    EXPECT_GT(bumpyPsnr, noisyPsnr + 4.0);
}

TEST(QualityMode, NoiseFreeLightIsLeftAlone) {
    // Light without noise on the room's geometry: nothing to measure, so
    // nothing to filter.
    Frame frame = renderedRoom().frame;
    frame[Primary] = cv::Mat(frame[Primary].size(), CV_32FC3, cv::Scalar(0.3, 0.5, 0.7));
    frame[Secondary] = cv::Mat(frame[Primary].size(), CV_32FC3, cv::Scalar(0.1, 0.1, 0.2));
    int64_t ticks = 0;
    const QualityLight light = filterLightForQuality(frame, QualityParameters(), ticks);
    EXPECT_EQ(cv::norm(light.primary, frame[Primary], cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(light.secondary, frame[Secondary], cv::NORM_INF), 0.0);
}

TEST(QualityMode, TinyAndDegenerateFramesStayFinite) {
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(1, 7), cv::Size(7, 1), cv::Size(3, 3)}) {
        Frame frame;
        frame.camera = {0, 0, 0};
        frame.settings = {0.2f, 6.0f};
        cv::RNG random(static_cast<uint64_t>(size.area()));
        for (cv::Mat& layer : frame.layers) {
            layer.create(size, CV_32FC3);
            random.fill(layer, cv::RNG::UNIFORM, 0.0f, 1.0f);
        }
        // Every point on the camera: no distance to measure.
        frame[Positions].setTo(cv::Scalar::all(0));
        const DenoisedFrame result = denoiseForQuality(frame);
        ASSERT_EQ(result.image.size(), size);
        EXPECT_TRUE(cv::checkRange(result.image)) << size;
    }
}

TEST(QualityMode, AFailureInEitherLayerReachesTheCaller) {
    // The light layers are filtered on two threads; a layer the mode cannot
    // take must end in an exception for the caller, not end the process or
    // be read past its end: also where its pixels have no surface (zero
    // normals), which are filled in before anything else reads the layer.
    for (const bool surfaces : {true, false}) {
        for (const int broken : {0, 1, 2}) {
            Frame frame;
            frame.settings = {0.2f, 6.0f};
            cv::RNG random(3);
            for (cv::Mat& layer : frame.layers) {
                layer.create(16, 16, CV_32FC3);
                random.fill(layer, cv::RNG::UNIFORM, 0.1f, 1.0f);
            }
            frame.glossyLight = frame[Primary].clone();
            frame.glossyColor = frame[TexColor].clone();
            if (!surfaces) {
                frame[Normals].setTo(cv::Scalar::all(0));
            }
            // Two channels, and noisy enough to be filtered.
            cv::Mat& layer = broken == 0   ? frame[Primary]
                             : broken == 1 ? frame[Secondary]
                                           : frame.glossyLight;
            layer.create(16, 16, CV_32FC2);
            random.fill(layer, cv::RNG::UNIFORM, 0.1f, 1.0f);
            EXPECT_THROW(denoiseForQuality(frame), cv::Exception)
                << "layer " << broken << (surfaces ? "" : ", no surfaces");
        }
    }
}

// The program on a sample frame, with and without --quality. The default
// output's bytes were recorded before the quality mode existed.
TEST(QualityMode, ProgramWritesBothModesAndTheDefaultIsUnchanged) {
    TemporaryFolder folder;
    const sample_frame::Scene scene = sample_frame::Scene::room();
    const auto layers = sample_frame::renderLayers(scene, {64, 48, 2, 3, 0});
    ASSERT_TRUE(sample_frame::writeFrame(folder.path().string(), layers, scene.camera.position,
                                         sample_frame::kSampleSettings));
    const FramePaths paths(folder.path().string());

    const ProgramRun plain = runFiltering("--root " + folder.path().string());
    ASSERT_EQ(plain.status, 0) << plain.output;
    EXPECT_EQ(fnv1a(readBytes(paths.output())), 9959046439115339787ull);

    const auto qualityFile = folder.path() / "quality.imagef4";
    const ProgramRun quality = runFiltering("--quality --root " + folder.path().string() +
                                            " --output " + qualityFile.string());
    ASSERT_EQ(quality.status, 0) << quality.output;
    EXPECT_NE(quality.output.find("Spent"), std::string::npos);
    const cv::Mat output = read_float4(qualityFile.string());
    ASSERT_EQ(output.size(), cv::Size(64, 48));
    EXPECT_TRUE(cv::checkRange(output));
    const cv::Mat noisy = read_float4(sample_frame::noisyFramePath(folder.path().string()));
    EXPECT_NEAR(meanBrightness(output) / meanBrightness(noisy), 1.0, 0.01);
}

// The mode's result on the rendered room, recorded: every step of the mode
// (its weights, its constants, the signs of its powers) moves it by more
// than the tolerance, which is far above the rounding that differs between
// processors.
TEST(QualityMode, RenderedRoomGivesTheRecordedResult) {
    const RenderedRoom& room = renderedRoom();
    const cv::Mat quality = denoiseForQuality(room.frame).image;
    const double psnr = imagef4::psnr(quality, room.reference);
    EXPECT_NEAR(psnr, 30.08260, 0.002);
}

// Working images are blue, green, red; the luminance of the filter's planes
// must be the one the noise was measured on.
TEST(Luminance, WeighsTheWorkingChannelsAndAgreesWithThePlanes) {
    const cv::Mat pure =
        (cv::Mat_<cv::Vec3f>(1, 3) << cv::Vec3f(1, 0, 0), cv::Vec3f(0, 1, 0), cv::Vec3f(0, 0, 1));
    const cv::Mat weights = luminance(pure);
    EXPECT_FLOAT_EQ(weights.at<float>(0, 0), 0.0722f);
    EXPECT_FLOAT_EQ(weights.at<float>(0, 1), 0.7152f);
    EXPECT_FLOAT_EQ(weights.at<float>(0, 2), 0.2126f);

    cv::Mat light(24, 32, CV_32FC3);
    cv::RNG(5).fill(light, cv::RNG::UNIFORM, cv::Scalar(0.0, 0.5, 1.0), cv::Scalar(0.1, 0.6, 3.0));
    const cv::Mat brightness = luminance(light);
    const PlanarLight planar = planarLight(separateFireflies(light, brightness, 6.0f, 1e9f, 8.0f));
    const cv::Mat planes(light.size(), CV_32F, const_cast<float*>(planar.brightness.getChannel(0)));
    EXPECT_LT(cv::norm(planes, brightness, cv::NORM_INF), 1e-5);
}
