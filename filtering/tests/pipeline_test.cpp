// The denoising steps on frames made in memory.
#include "pipeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "quendel/threads.h"
#include "synthetic_frame.h"

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
    cv::Mat normals(1, 2, CV_32FC3);
    normals.at<cv::Vec3f>(0, 0) = {0.0f, 0.0f, 1.0f};
    normals.at<cv::Vec3f>(0, 1) = {-1.0f, 0.6f, -0.2f};
    remapNormals(normals);
    EXPECT_EQ(normals.at<cv::Vec3f>(0, 0), cv::Vec3f(0.5f, 0.5f, 1.0f));
    EXPECT_EQ(normals.at<cv::Vec3f>(0, 1), cv::Vec3f(0.0f, 0.8f, 0.4f));
}

TEST(FilterInputs, LeaveTheLoadedNormalsAlone) {
    const Frame frame = syntheticFrame(8, 6);
    const cv::Mat normals = frame[Normals].clone();
    const FilterInputs inputs = filterInputs(frame);
    EXPECT_TRUE(bitIdentical(frame[Normals], normals));
    EXPECT_EQ(inputs.normals.at<cv::Vec3f>(0, 0), cv::Vec3f(0.5f, 0.5f, 1.0f));
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

}  // namespace
