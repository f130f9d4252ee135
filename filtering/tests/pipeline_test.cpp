// The denoising steps on frames made in memory.
#include "default_mode/pipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "default_mode/prepared_frame.h"
#include "frame_io/layer_files.h"
#include "quendel/source_vector.h"
#include "quendel/tdr_filter.h"
#include "quendel/threads.h"
#include "synthetic_frame.h"
#include "test_files.h"

using namespace filtering;

namespace {

cv::Mat filteredSecondary(const Frame& frame) {
    int64_t ticks = 0;
    const FilteredLight light = filterSecondary(filterInputs(frame), ticks);
    return light.view().clone();
}

TEST(SigmaClamp, HoldsBothEndsAndRejectsNan) {
    EXPECT_EQ(clampSigma(0.0f), 0.00001f);
    EXPECT_EQ(clampSigma(-3.0f), 0.00001f);
    EXPECT_EQ(clampSigma(0.00001f), 0.00001f);
    EXPECT_EQ(clampSigma(std::nanf("")), 0.00001f);
    EXPECT_EQ(clampSigma(100.0f), 10.0f);
    EXPECT_EQ(clampSigma(INFINITY), 10.0f);
    EXPECT_EQ(clampSigma(0.5f), 0.5f);
    EXPECT_EQ(clampSigma(9.999f), 9.999f);
}

TEST(SigmaClamp, OutOfRangeSettingsFilterAsTheirClampedValues) {
    Frame frame = syntheticFrame(12, 10);
    frame.settings = {0.0f, 100.0f};
    const FilterInputs inputs = filterInputs(frame);
    EXPECT_EQ(inputs.sigmaR, 0.00001f);
    EXPECT_EQ(inputs.sigmaS, 10.0f);
    const cv::Mat outOfRange = denoise(frame).image;
    frame.settings = {0.00001f, 10.0f};
    EXPECT_TRUE(bitIdentical(outOfRange, denoise(frame).image));
    frame.settings = {0.3f, 4.0f};
    EXPECT_FALSE(bitIdentical(outOfRange, denoise(frame).image));
}

TEST(DistanceMap, RescalesNearestToZeroAndFarthestToOne) {
    // Working channels are z, y, x; each point differs from the camera on
    // one axis only, so a swapped axis changes the distances.
    const CameraPosition camera{1.0f, 2.0f, 3.0f};
    cv::Mat positions(1, 3, CV_32FC3);
    positions.at<cv::Vec3f>(0, 0) = {3.0f, 2.0f, 2.0f};  // x + 1
    positions.at<cv::Vec3f>(0, 1) = {3.0f, 4.0f, 1.0f};  // y + 2
    positions.at<cv::Vec3f>(0, 2) = {6.0f, 2.0f, 1.0f};  // z + 3
    const cv::Mat distances = normalizedDistances(positions, camera);
    ASSERT_EQ(distances.type(), CV_32F);
    EXPECT_EQ(distances.at<float>(0, 0), 0.0f);
    EXPECT_EQ(distances.at<float>(0, 1), 0.5f);
    EXPECT_EQ(distances.at<float>(0, 2), 1.0f);
}

TEST(DistanceMap, EquallyFarPointsGiveZeroNotNan) {
    const CameraPosition camera{0.0f, 0.0f, 0.0f};
    cv::Mat positions(2, 2, CV_32FC3);
    positions.at<cv::Vec3f>(0, 0) = {2.0f, 0.0f, 0.0f};
    positions.at<cv::Vec3f>(0, 1) = {0.0f, 2.0f, 0.0f};
    positions.at<cv::Vec3f>(1, 0) = {0.0f, 0.0f, -2.0f};
    positions.at<cv::Vec3f>(1, 1) = {-2.0f, 0.0f, 0.0f};
    const cv::Mat distances = normalizedDistances(positions, camera);
    EXPECT_EQ(cv::countNonZero(distances), 0);
    // Positions at the camera itself are equally far too.
    const cv::Mat atCamera =
        normalizedDistances(cv::Mat(2, 3, CV_32FC3, cv::Scalar::all(0)), camera);
    EXPECT_EQ(cv::countNonZero(atCamera), 0);
    EXPECT_TRUE(cv::checkRange(atCamera));
}

TEST(NormalRemap, MapsMinusOneToZeroAndOneToOne) {
    const float interleaved[] = {0.0f, 0.0f, 1.0f, -1.0f, 0.6f, -0.2f};
    quendel::CpuTexture normals(interleaved, 2, 1, 3, true);
    remapNormals(normals);
    const float expected[3][2] = {{0.5f, 0.0f}, {0.5f, 0.8f}, {1.0f, 0.4f}};
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_EQ(normals.getChannel(c)[0], expected[c][0]) << "channel " << c;
        EXPECT_EQ(normals.getChannel(c)[1], expected[c][1]) << "channel " << c;
    }
}

TEST(FilterInputs, LeaveTheLoadedNormalsAlone) {
    const Frame frame = syntheticFrame(8, 6);
    const cv::Mat normals = frame[Normals].clone();
    const FilterInputs inputs = filterInputs(frame);
    EXPECT_TRUE(bitIdentical(frame[Normals], normals));
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_EQ(inputs.normals.getChannel(c)[0], c == 2 ? 1.0f : 0.5f) << "channel " << c;
    }
}

TEST(Denoise, WhiteTextureAndNoRestGivePrimaryPlusFilteredSecondary) {
    Frame frame = syntheticFrame(16, 12);
    frame[TexColor].setTo(cv::Scalar::all(1.0));
    frame[Rest].setTo(cv::Scalar::all(0.0));
    const cv::Mat filtered = filteredSecondary(frame);
    EXPECT_GT(cv::norm(filtered, frame[Secondary], cv::NORM_INF), 0.05)
        << "the secondary light must come out smoothed";
    const cv::Mat expected = frame[Primary] + filtered;
    EXPECT_TRUE(bitIdentical(denoise(frame).image, expected));
}

TEST(Denoise, RecombinesEveryLayerChannelByChannel) {
    const Frame frame = syntheticFrame(10, 8);
    const cv::Mat filtered = filteredSecondary(frame);
    const cv::Mat image = denoise(frame).image;
    for (const auto& [y, x] : {std::pair{0, 0}, std::pair{2, 7}, std::pair{7, 9}}) {
        for (int c = 0; c < 3; ++c) {
            const float light =
                frame[Primary].at<cv::Vec3f>(y, x)[c] + filtered.at<cv::Vec3f>(y, x)[c];
            const float reflected = frame[TexColor].at<cv::Vec3f>(y, x)[c] * light;
            EXPECT_EQ(image.at<cv::Vec3f>(y, x)[c], frame[Rest].at<cv::Vec3f>(y, x)[c] + reflected)
                << y << "," << x << " channel " << c;
        }
    }
}

TEST(Denoise, TextureCoordinatesDoNotMatter) {
    Frame frame = syntheticFrame(14, 9);
    const cv::Mat before = denoise(frame).image;
    cv::randu(frame[TexCoord], cv::Scalar::all(-5), cv::Scalar::all(5));
    EXPECT_TRUE(bitIdentical(before, denoise(frame).image));
}

TEST(Denoise, GuideSourcesSteerTheFilter) {
    // Each source of the guide must reach the filter: changing one changes
    // the result.
    const Frame frame = syntheticFrame(14, 9);
    for (Layer layer : {Normals, Positions, TexColor}) {
        Frame changed = frame;
        changed.layers[layer] = frame[layer].clone();
        changed.layers[layer].at<cv::Vec3f>(4, 3) *= -0.5f;
        EXPECT_FALSE(bitIdentical(filteredSecondary(frame), filteredSecondary(changed)))
            << "layer " << layer;
    }
}

TEST(Denoise, SameResultOnAnyTeamSize) {
    const Frame frame = syntheticFrame(33, 17);
    quendel::setThreadCount(1);
    const cv::Mat single = denoise(frame).image;
    quendel::setThreadCount(4);
    const DenoisedFrame team = denoise(frame);
    quendel::setThreadCount(quendel::kDefaultThreadCount);
    EXPECT_TRUE(bitIdentical(single, team.image));
    EXPECT_GE(team.seconds, 0.0);
}

// The frame the pipeline should make, built step by step here with the
// pipeline's constants written out: a changed weight or scale fails it.
cv::Mat expectedFrame(const Frame& frame) {
    const int rows = frame[Secondary].rows, cols = frame[Secondary].cols;
    quendel::SourceVector<quendel::CpuFiltering> patches(toTexture(frame[Secondary]));
    patches.nlmScale = 10.0f;
    patches.build();  // six patch channels / 10, then the light itself
    quendel::CpuTexture guide = patches.features;
    auto appendChannels = [&](const cv::Mat& image, float weight) {
        std::vector<cv::Mat> channels;
        cv::split(image, channels);
        for (const cv::Mat& channel : channels) {
            auto plane =
                std::make_shared<quendel::CpuTexture::Plane>(static_cast<size_t>(rows) * cols);
            for (int i = 0; i < rows * cols; ++i) {
                (*plane)[i] = weight == 1.0f ? channel.at<float>(i) : channel.at<float>(i) / weight;
            }
            guide.appendPlane(plane);
        }
    };
    cv::Mat normals = frame[Normals].clone();
    normals.forEach<cv::Vec3f>([](cv::Vec3f& n, const int*) {
        for (int c = 0; c < 3; ++c) n[c] = (n[c] + 1.0f) * 0.5f;
    });
    appendChannels(normals, 0.5f);
    // Nearest point 0, farthest 1.
    cv::Mat distances(rows, cols, CV_32F);
    for (int i = 0; i < rows * cols; ++i) {
        const cv::Vec3f p = frame[Positions].at<cv::Vec3f>(i);
        const float dz = p[0] - frame.camera.z, dy = p[1] - frame.camera.y,
                    dx = p[2] - frame.camera.x;
        distances.at<float>(i) = std::sqrt((dy * dy + dz * dz) + dx * dx);
    }
    double nearest = 0, farthest = 0;
    cv::minMaxLoc(distances, &nearest, &farthest);
    distances.forEach<float>([&](float& d, const int*) {
        d = (d - float(nearest)) / (float(farthest) - float(nearest));
    });
    appendChannels(distances, 0.4f);
    appendChannels(frame[TexColor], 1.0f);
    EXPECT_EQ(guide.getChannelsCount(), 16u);

    quendel::CpuTexture light = toTexture(frame[Secondary]);
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    EXPECT_TRUE(
        filter.process(light, guide, frame.settings.spatialSigma, frame.settings.rangeSigma));
    cv::Mat expected(rows, cols, CV_32FC3);
    for (int i = 0; i < rows * cols; ++i) {
        for (int c = 0; c < 3; ++c) {
            const float filtered = light.getChannel(c)[i];
            const float sum = frame[Primary].at<cv::Vec3f>(i)[c] + filtered;
            expected.at<cv::Vec3f>(i)[c] =
                frame[Rest].at<cv::Vec3f>(i)[c] + frame[TexColor].at<cv::Vec3f>(i)[c] * sum;
        }
    }
    return expected;
}

TEST(Denoise, MakesTheFrameOfItsFixedGuideAndFilter) {
    for (const auto& [width, height] : {std::pair{24, 18}, std::pair{31, 40}}) {
        Frame frame = syntheticFrame(width, height);
        // Settings inside the clamp, so that they pass as they are.
        frame.settings = {0.45f, 3.0f};
        // Texture and normals that vary inside each region, so that every
        // guide channel carries its own edges.
        cv::RNG random(width);
        cv::Mat wobble(height, width, CV_32FC3);
        random.fill(wobble, cv::RNG::UNIFORM, cv::Scalar::all(-0.1), cv::Scalar::all(0.1));
        frame[TexColor] += wobble;
        random.fill(wobble, cv::RNG::UNIFORM, cv::Scalar::all(-0.3), cv::Scalar::all(0.3));
        frame[Normals] += wobble;
        random.fill(wobble, cv::RNG::UNIFORM, cv::Scalar::all(-0.5), cv::Scalar::all(0.5));
        frame[Positions] += wobble;
        const cv::Mat expected = expectedFrame(frame);
        const cv::Mat image = denoise(frame).image;
        EXPECT_LT(cv::norm(image, expected, cv::NORM_INF), 1e-5) << width << " x " << height;
    }
}

// Writes a frame as the renderer saves it.
void writeFrameFiles(const FramePaths& paths, const Frame& frame) {
    std::filesystem::create_directories(paths.inputFolder());
    for (int layer = 0; layer < LayerCount; ++layer) {
        ASSERT_TRUE(save_float4(paths.layer(static_cast<Layer>(layer)), frame.layers[layer]));
    }
    char text[128];
    std::snprintf(text, sizeof text, "%.9g %.9g %.9g\n", frame.camera.x, frame.camera.y,
                  frame.camera.z);
    writeText(paths.camera(), text);
    std::snprintf(text, sizeof text, "0 0 0 0 %.9g %.9g\n", frame.settings.rangeSigma,
                  frame.settings.spatialSigma);
    writeText(paths.settings(), text);
}

// What a loader writes on standard error.
template <typename Load>
std::string errorsOf(Load load) {
    std::ostringstream captured;
    std::streambuf* previous = std::cerr.rdbuf(captured.rdbuf());
    load();
    std::cerr.rdbuf(previous);
    return captured.str();
}

TEST(PreparedFrame, GivesTheLongWaysFrameBitForBitAndTheSameMessages) {
    TemporaryFolder folder;
    const FramePaths paths(folder.path().string());
    const Frame clean = syntheticFrame(37, 23);
    // The clean frame, then a NaN and an infinity in each layer the pipeline
    // uses: those the loader reads straight into the filter's inputs send it
    // the long way, the others are repaired in place.
    std::vector<std::pair<Layer, cv::Point>> cases = {{TexCoord, {0, 0}}};
    for (Layer layer : {Primary, Secondary, TexColor, Normals, Positions, Rest}) {
        cases.push_back({layer, {5, 7}});
    }
    for (const auto& [layer, pixel] : cases) {
        Frame frame = clean;
        frame.layers[layer] = clean[layer].clone();
        if (layer != TexCoord) {
            frame[layer].at<cv::Vec3f>(pixel)[0] = std::numeric_limits<float>::quiet_NaN();
            frame[layer].at<cv::Vec3f>(pixel.y + 1, pixel.x)[2] =
                std::numeric_limits<float>::infinity();
        }
        writeFrameFiles(paths, frame);
        std::optional<Frame> whole;
        std::optional<PreparedFrame> prepared;
        const std::string wholeErrors = errorsOf([&] { whole = loadFrame(paths); });
        const std::string preparedErrors = errorsOf([&] { prepared = loadPreparedFrame(paths); });
        ASSERT_TRUE(whole && prepared) << kLayerFileNames[layer];
        EXPECT_EQ(preparedErrors, wholeErrors);
        EXPECT_EQ(layer == TexCoord, wholeErrors.empty()) << wholeErrors;
        const cv::Mat expected = denoise(std::move(*whole)).image;
        EXPECT_TRUE(bitIdentical(denoise(std::move(*prepared)).image, expected))
            << kLayerFileNames[layer];
    }
}

}  // namespace
