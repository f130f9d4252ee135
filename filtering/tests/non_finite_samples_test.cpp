// NaN and infinite samples: what replaces them, and what a frame that holds
// some gives.
#include "frame_io/non_finite_samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "default_mode/pipeline.h"
#include "frame_io/frame_samples.h"
#include "synthetic_frame.h"

using namespace filtering;

namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

cv::Mat rampImage(int rows, int cols) {
    cv::Mat image(rows, cols, CV_32FC3);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            image.at<cv::Vec3f>(y, x) = cv::Vec3f(float(y * cols + x), 0.5f * float(x), -float(y));
    return image;
}

TEST(ReplaceNonFinite, IsolatedValuesTakeTheMeanOfTheirFiniteNeighbours) {
    cv::Mat image = rampImage(4, 5);
    const cv::Mat original = image.clone();
    image.at<cv::Vec3f>(1, 1)[0] = kNan;
    image.at<cv::Vec3f>(1, 2)[0] = kInf;  // a bad neighbour does not count
    image.at<cv::Vec3f>(0, 0)[1] = -kInf;
    EXPECT_EQ(countNonFinite(image), 3u);

    const cv::Mat mask = replaceNonFinite(image);
    EXPECT_EQ(countNonFinite(image), 0u);
    // (1, 1) channel 0: rows 0-2, columns 0-2, without itself and (1, 2).
    const float around11 = (0 + 1 + 2 + 5 + 10 + 11 + 12) / 7.0f;
    EXPECT_FLOAT_EQ(image.at<cv::Vec3f>(1, 1)[0], around11);
    // (1, 2) channel 0: rows 0-2, columns 1-3, without itself and (1, 1).
    EXPECT_FLOAT_EQ(image.at<cv::Vec3f>(1, 2)[0], (1 + 2 + 3 + 8 + 11 + 12 + 13) / 7.0f);
    // (0, 0) channel 1 in the corner: three neighbours, x / 2 = 0.5, 0, 0.5.
    EXPECT_FLOAT_EQ(image.at<cv::Vec3f>(0, 0)[1], 1.0f / 3.0f);

    ASSERT_EQ(mask.type(), CV_8U);
    EXPECT_EQ(cv::countNonZero(mask), 3);
    EXPECT_EQ(mask.at<uint8_t>(1, 1), 255);
    EXPECT_EQ(mask.at<uint8_t>(0, 0), 255);
    // Every value that was finite is left as it was.
    image.at<cv::Vec3f>(1, 1)[0] = original.at<cv::Vec3f>(1, 1)[0];
    image.at<cv::Vec3f>(1, 2)[0] = original.at<cv::Vec3f>(1, 2)[0];
    image.at<cv::Vec3f>(0, 0)[1] = original.at<cv::Vec3f>(0, 0)[1];
    EXPECT_TRUE(bitIdentical(image, original));
}

TEST(ReplaceNonFinite, WideHolesReachFartherAndEmptyChannelsBecomeZero) {
    cv::Mat image = rampImage(9, 7);
    // Channel 0 keeps one finite value, channel 1 none, channel 2 all.
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            image.at<cv::Vec3f>(y, x)[0] = (y + x) % 2 ? kNan : -kInf;
            image.at<cv::Vec3f>(y, x)[1] = kInf;
        }
    }
    image.at<cv::Vec3f>(8, 6)[0] = 4.25f;
    const cv::Mat channel2 = rampImage(9, 7);
    const cv::Mat mask = replaceNonFinite(image);
    EXPECT_EQ(cv::countNonZero(mask), 9 * 7);
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            EXPECT_EQ(image.at<cv::Vec3f>(y, x)[0], 4.25f) << y << "," << x;
            EXPECT_EQ(image.at<cv::Vec3f>(y, x)[1], 0.0f) << y << "," << x;
            EXPECT_EQ(image.at<cv::Vec3f>(y, x)[2], channel2.at<cv::Vec3f>(y, x)[2]);
        }
    }
    cv::Mat clean = rampImage(3, 3);
    EXPECT_TRUE(replaceNonFinite(clean).empty());
}

// Bad samples are put near one corner; "far" is at least this many pixels away.
constexpr int kFar = 40;
const cv::Point kBadPixels[] = {{4, 6}, {5, 7}, {9, 3}};

bool farFromBadPixels(int y, int x) {
    for (const cv::Point& bad : kBadPixels) {
        if (std::abs(bad.y - y) < kFar && std::abs(bad.x - x) < kFar) return false;
    }
    return true;
}

float largestFarDifference(const cv::Mat& a, const cv::Mat& b) {
    float largest = 0.0f;
    for (int y = 0; y < a.rows; ++y)
        for (int x = 0; x < a.cols; ++x)
            if (farFromBadPixels(y, x))
                for (int c = 0; c < 3; ++c)
                    largest = std::max(
                        largest, std::fabs(a.at<cv::Vec3f>(y, x)[c] - b.at<cv::Vec3f>(y, x)[c]));
    return largest;
}

TEST(NonFiniteFrames, AFewBadSamplesInAnyLayerLeaveTheRestOfTheFrameAsItWas) {
    const Frame clean = syntheticFrame(96, 72);
    const cv::Mat cleanImage = denoise(clean).image;
    for (Layer layer : {Primary, Secondary, TexColor, Normals, Positions, Rest}) {
        for (float bad : {kNan, kInf, -kInf}) {
            Frame frame = clean;
            frame.layers[layer] = clean[layer].clone();
            int channel = 0;
            for (const cv::Point& pixel : kBadPixels) {
                frame[layer].at<cv::Vec3f>(pixel)[channel++] = bad;
            }
            std::ostringstream messages;
            ASSERT_TRUE(repairNonFiniteSamples(frame, messages));
            EXPECT_EQ(messages.str(), "filtering: " + std::string(kLayerFileNames[layer]) +
                                          ": 3 non-finite values replaced by the mean of their "
                                          "neighbours\n");
            const cv::Mat image = denoise(frame).image;
            EXPECT_TRUE(cv::checkRange(image)) << kLayerFileNames[layer] << " " << bad;
            EXPECT_LT(largestFarDifference(image, cleanImage), 1e-4f)
                << kLayerFileNames[layer] << " " << bad;
        }
    }
}

TEST(NonFiniteFrames, CleanFramesAndUnusedLayersAreLeftAlone) {
    Frame frame = syntheticFrame(40, 30);
    const cv::Mat before = denoise(frame).image;
    frame[TexCoord].at<cv::Vec3f>(3, 3)[1] = kNan;
    std::ostringstream messages;
    ASSERT_TRUE(repairNonFiniteSamples(frame, messages));
    EXPECT_EQ(messages.str(), "");
    for (const cv::Mat& mask : frame.repaired) EXPECT_TRUE(mask.empty());
    EXPECT_TRUE(bitIdentical(denoise(frame).image, before));
}

TEST(NonFiniteFrames, ALayerWithoutAFiniteValue) {
    const Frame clean = syntheticFrame(40, 30);
    const std::string all = "all " + std::to_string(40 * 30 * 3) + " values are non-finite; ";
    for (Layer layer : {Primary, Secondary, TexColor, Rest}) {
        Frame frame = clean;
        frame.layers[layer] = cv::Mat(30, 40, CV_32FC3, cv::Scalar::all(kNan));
        std::ostringstream messages;
        EXPECT_FALSE(repairNonFiniteSamples(frame, messages)) << kLayerFileNames[layer];
        EXPECT_EQ(messages.str(), "filtering: " + std::string(kLayerFileNames[layer]) + ": " + all +
                                      "no frame can be made\n");
    }
    // Without the geometry the guide still has the light and the texture colour.
    const std::pair<Layer, std::string> guideOnly[] = {{Normals, "the normals"},
                                                       {Positions, "the distance to the camera"}};
    for (const auto& [layer, feature] : guideOnly) {
        Frame frame = clean;
        frame.layers[layer] = cv::Mat(30, 40, CV_32FC3, cv::Scalar::all(-kInf));
        std::ostringstream messages;
        ASSERT_TRUE(repairNonFiniteSamples(frame, messages));
        EXPECT_EQ(messages.str(), "filtering: " + std::string(kLayerFileNames[layer]) + ": " + all +
                                      "the guide goes without " + feature + "\n");
        EXPECT_TRUE(cv::checkRange(denoise(frame).image));
    }
}

TEST(NonFiniteFrames, RepairedPositionsDoNotStretchTheDistanceRange) {
    const CameraPosition camera{0.0f, 0.0f, 0.0f};
    cv::Mat positions(1, 4, CV_32FC3);
    positions.at<cv::Vec3f>(0, 0) = {1.0f, 0.0f, 0.0f};
    positions.at<cv::Vec3f>(0, 1) = {3.0f, 0.0f, 0.0f};
    positions.at<cv::Vec3f>(0, 2) = {2.0f, 0.0f, 0.0f};
    positions.at<cv::Vec3f>(0, 3) = {9.0f, 0.0f, 0.0f};  // repaired, beyond the measured ones
    cv::Mat untrusted(1, 4, CV_8U, cv::Scalar(0));
    untrusted.at<uint8_t>(0, 3) = 255;
    const cv::Mat distances = normalizedDistances(positions, camera, untrusted);
    EXPECT_EQ(distances.at<float>(0, 0), 0.0f);
    EXPECT_EQ(distances.at<float>(0, 1), 1.0f);
    EXPECT_EQ(distances.at<float>(0, 2), 0.5f);
    EXPECT_EQ(distances.at<float>(0, 3), 1.0f);
}

}  // namespace
