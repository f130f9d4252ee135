#include "frame_io/layer_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <opencv2/core.hpp>

#include "test_files.h"

using namespace filtering;

namespace {

std::vector<float> sequence(size_t count, float start) {
    std::vector<float> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = start + static_cast<float>(i);
    return values;
}

}  // namespace

TEST(ReadLayer, BottomRowFirstAndChannelsReversed) {
    TemporaryFolder folder;
    const auto path = folder.path() / "layer.imagef4";
    // 2 x 2: file row 0 is the bottom row; its first pixel is (1, 2, 3, 4).
    writeRawImagef4(path, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    const cv::Mat image = read_float4(path.string());
    ASSERT_EQ(image.type(), CV_32FC3);
    ASSERT_EQ(image.rows, 2);
    EXPECT_EQ(image.at<cv::Vec3f>(1, 0), cv::Vec3f(3, 2, 1));
    EXPECT_EQ(image.at<cv::Vec3f>(1, 1), cv::Vec3f(7, 6, 5));
    EXPECT_EQ(image.at<cv::Vec3f>(0, 0), cv::Vec3f(11, 10, 9));
}

TEST(ReadLayer, EmptyHeaderGivesEmptyImage) {
    TemporaryFolder folder;
    writeRawImagef4(folder.path() / "empty.imagef4", 0, 0, {});
    EXPECT_TRUE(read_float4((folder.path() / "empty.imagef4").string()).empty());
}

TEST(ReadLayer, MalformedFilesAreRejectedWithTheirName) {
    TemporaryFolder folder;
    const auto dir = folder.path();
    writeRawImagef4(dir / "negative.imagef4", -2, 3, sequence(100, 0));
    writeRawImagef4(dir / "one_side.imagef4", 0, 3, sequence(100, 0));
    writeRawImagef4(dir / "truncated.imagef4", 4, 4, sequence(4 * 4 * 4 - 1, 0));
    writeRawImagef4(dir / "huge.imagef4", 1 << 30, 1 << 30, sequence(16, 0));
    writeText(dir / "short_header.imagef4", "abc");
    for (const char* name : {"negative.imagef4", "one_side.imagef4", "truncated.imagef4",
                             "huge.imagef4", "short_header.imagef4", "missing.imagef4"}) {
        const std::string path = (dir / name).string();
        testing::internal::CaptureStderr();
        const cv::Mat image = read_float4(path);
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(image.empty()) << name;
        EXPECT_NE(message.find(path), std::string::npos) << message;
        // The size alone is checked the same way.
        cv::Size size;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(readLayerSize(path, size)) << name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    }
    cv::Size size;
    writeRawImagef4(dir / "fine.imagef4", 3, 2, sequence(3 * 2 * 4, 0));
    ASSERT_TRUE(readLayerSize((dir / "fine.imagef4").string(), size));
    EXPECT_EQ(size, cv::Size(3, 2));
    testing::internal::CaptureStderr();
    read_float4((dir / "missing.imagef4").string());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "read_float4: can't open file " + (dir / "missing.imagef4").string() + "\n");
}

TEST(SaveLayer, WritesBottomRowFirstWithAlphaOne) {
    TemporaryFolder folder;
    cv::Mat image(2, 3, CV_32FC3, cv::Scalar(0, 0, 0));
    image.at<cv::Vec3f>(0, 0) = cv::Vec3f(0.1f, 0.2f, 0.3f);
    const auto path = folder.path() / "out.imagef4";
    ASSERT_TRUE(save_float4(path.string(), image));

    const std::vector<char> bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 8u + 2 * 3 * 16);
    int32_t header[2];
    std::memcpy(header, bytes.data(), 8);
    EXPECT_EQ(header[0], 3);
    EXPECT_EQ(header[1], 2);
    float lastRowFirstPixel[4];
    std::memcpy(lastRowFirstPixel, bytes.data() + 8 + 3 * 16, 16);
    EXPECT_EQ(lastRowFirstPixel[0], 0.3f);
    EXPECT_EQ(lastRowFirstPixel[1], 0.2f);
    EXPECT_EQ(lastRowFirstPixel[2], 0.1f);
    EXPECT_EQ(lastRowFirstPixel[3], 1.0f);
    EXPECT_EQ(image.at<cv::Vec3f>(0, 0), cv::Vec3f(0.1f, 0.2f, 0.3f)) << "caller's image changed";
}

TEST(SaveLayer, RoundTripIsExactAndLeavesNoTemporaryFiles) {
    TemporaryFolder folder;
    cv::Mat image(5, 7, CV_32FC3);
    cv::randu(image, cv::Scalar::all(-10), cv::Scalar::all(10));
    const auto path = folder.path() / "round.imagef4";
    ASSERT_TRUE(save_float4(path.string(), image));
    ASSERT_TRUE(save_float4(path.string(), image));  // replaces the file
    const cv::Mat back = read_float4(path.string());
    ASSERT_EQ(back.size(), image.size());
    EXPECT_EQ(cv::norm(back, image, cv::NORM_INF), 0.0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(SaveLayer, FailedWriteLeavesTheExistingFileAlone) {
    TemporaryFolder folder;
    const cv::Mat image(2, 2, CV_32FC3, cv::Scalar(1, 2, 3));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(save_float4((folder.path() / "no" / "such" / "dir.imagef4").string(), image));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("save_float4: can't open file"),
              std::string::npos);

    const auto path = folder.path() / "kept.imagef4";
    writeRawImagef4(path, 1, 1, {1, 2, 3, 4});
    const cv::Mat notAnImage(2, 2, CV_8UC1, cv::Scalar(0));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(save_float4(path.string(), notAnImage));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readBytes(path).size(), 8u + 16u);
}

TEST(TextFiles, CameraMissingNumbersStayZero) {
    TemporaryFolder folder;
    CameraPosition camera;
    writeText(folder.path() / "full.txt", "1 2 3 and more");
    ASSERT_TRUE(readCamera((folder.path() / "full.txt").string(), camera));
    EXPECT_EQ((std::array<float, 3>{camera.x, camera.y, camera.z}),
              (std::array<float, 3>{1, 2, 3}));
    writeText(folder.path() / "short.txt", "1\n2\n");
    ASSERT_TRUE(readCamera((folder.path() / "short.txt").string(), camera));
    EXPECT_EQ((std::array<float, 3>{camera.x, camera.y, camera.z}),
              (std::array<float, 3>{1, 2, 0}));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(readCamera((folder.path() / "none.txt").string(), camera));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("none.txt"), std::string::npos);
}

TEST(TextFiles, SettingsTakeNumbersFiveAndSixAndNeedAllSix) {
    TemporaryFolder folder;
    FilterSettings settings;
    writeText(folder.path() / "good.txt", "9 9 9 9 0.5 20\n");
    ASSERT_TRUE(readSettings((folder.path() / "good.txt").string(), settings));
    EXPECT_EQ(settings.rangeSigma, 0.5f);
    EXPECT_EQ(settings.spatialSigma, 20.0f);

    settings = FilterSettings{};
    writeText(folder.path() / "five.txt", "9 9 9 9 0.5");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(readSettings((folder.path() / "five.txt").string(), settings));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("five.txt"), std::string::npos);
    EXPECT_EQ(settings.rangeSigma, 0.0f);
}

TEST(LayerTexture, PlanesHoldTheWorkingChannels) {
    cv::Mat image(1, 2, CV_32FC3);
    image.at<cv::Vec3f>(0, 0) = cv::Vec3f(1, 2, 3);
    image.at<cv::Vec3f>(0, 1) = cv::Vec3f(4, 5, 6);
    const quendel::CpuTexture texture = toTexture(image);
    ASSERT_TRUE(texture.hasSize(2, 1, 3));
    EXPECT_EQ(texture.getChannel(0)[1], 4.0f);
    EXPECT_EQ(texture.getChannel(2)[0], 3.0f);
    image.at<cv::Vec3f>(0, 0)[0] = 100.0f;
    EXPECT_EQ(texture.getChannel(0)[0], 1.0f) << "texture must own a private copy";
}
