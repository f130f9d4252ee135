#include "image_stats.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>

#include "frame_io/preview.h"
#include "image_export.h"

namespace {

cv::Mat constantImage(int width, int height, float value) {
    return cv::Mat(height, width, CV_32FC3, cv::Scalar::all(value));
}

std::filesystem::path scratchFile(const std::string& name) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("imagef4_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    return folder / name;
}

TEST(ToneMapping, ClampsAndEncodesSrgb) {
    cv::Mat linear(1, 2, CV_32FC3);
    linear.at<cv::Vec3f>(0, 0) = {-1.0f, 0.0f, 0.002f};
    linear.at<cv::Vec3f>(0, 1) = {0.5f, 1.0f, 7.0f};
    const cv::Mat display = filtering::toneMapped(linear, 1.0f);
    EXPECT_FLOAT_EQ(display.at<cv::Vec3f>(0, 0)[0], 0.0f);
    EXPECT_FLOAT_EQ(display.at<cv::Vec3f>(0, 0)[1], 0.0f);
    EXPECT_NEAR(display.at<cv::Vec3f>(0, 0)[2], 12.92f * 0.002f, 1e-6);  // linear toe
    EXPECT_NEAR(display.at<cv::Vec3f>(0, 1)[0], 0.735357f, 1e-5);
    EXPECT_FLOAT_EQ(display.at<cv::Vec3f>(0, 1)[1], 1.0f);
    EXPECT_FLOAT_EQ(display.at<cv::Vec3f>(0, 1)[2], 1.0f);
    // Exposure scales before the clamp: 0.25 doubled is 0.5.
    const cv::Mat quarter = constantImage(1, 1, 0.25f);
    EXPECT_NEAR(filtering::toneMapped(quarter, 2.0f).at<cv::Vec3f>(0, 0)[0], 0.735357f, 1e-5);
}

TEST(ToneMapping, NanBecomesBlack) {
    const cv::Mat linear = constantImage(2, 1, std::nanf(""));
    const cv::Mat bytes = filtering::toDisplayBytes(linear);
    EXPECT_EQ(cv::countNonZero(bytes.reshape(1)), 0);
}

TEST(Summary, RangesMeansAndNanCount) {
    cv::Mat image(2, 2, CV_32FC3, cv::Scalar(1.0f, 2.0f, 3.0f));
    image.at<cv::Vec3f>(0, 1) = {5.0f, std::nanf(""), -1.0f};
    image.at<cv::Vec3f>(1, 1)[1] = std::numeric_limits<float>::infinity();
    const imagef4::ImageSummary summary = imagef4::summarize(image);
    EXPECT_EQ(summary.width, 2);
    EXPECT_EQ(summary.height, 2);
    EXPECT_EQ(summary.nanCount, 1u);
    EXPECT_EQ(summary.infiniteCount, 1u);
    EXPECT_FLOAT_EQ(summary.low[0], 1.0f);
    EXPECT_FLOAT_EQ(summary.high[0], 5.0f);
    EXPECT_DOUBLE_EQ(summary.mean[0], 2.0);
    EXPECT_FLOAT_EQ(summary.low[2], -1.0f);
    EXPECT_DOUBLE_EQ(summary.mean[2], 2.0);
    // The NaN is left out of channel 1; the infinity widens its range only.
    EXPECT_FLOAT_EQ(summary.high[1], std::numeric_limits<float>::infinity());
    EXPECT_DOUBLE_EQ(summary.mean[1], 2.0);
    const std::string line = imagef4::describe(summary);
    EXPECT_NE(line.find("2 x 2"), std::string::npos) << line;
    EXPECT_NE(line.find("1 NaN"), std::string::npos) << line;
}

TEST(Psnr, KnownErrorOnDisplayValues) {
    const cv::Mat reference = constantImage(4, 4, 1.0f);  // displays as 1
    const cv::Mat image = constantImage(4, 4, 0.0f);      // displays as 0
    EXPECT_NEAR(imagef4::psnr(image, reference), 0.0, 1e-9);
    EXPECT_TRUE(std::isinf(imagef4::psnr(reference, reference)));
    // Values above the clamp all display as white: no error.
    EXPECT_TRUE(std::isinf(imagef4::psnr(constantImage(4, 4, 3.0f), reference)));
    cv::Mat oneOff = reference.clone();
    oneOff.at<cv::Vec3f>(0, 0)[0] = 0.0f;  // one of 48 values off by 1
    EXPECT_NEAR(imagef4::psnr(oneOff, reference), 10.0 * std::log10(48.0), 1e-9);
    EXPECT_THROW(imagef4::psnr(constantImage(2, 2, 0.0f), reference), std::invalid_argument);
}

TEST(Export, ExrKeepsLinearValues) {
    cv::Mat image(3, 5, CV_32FC3);
    cv::randu(image, cv::Scalar::all(-2.0), cv::Scalar::all(40.0));
    const auto path = scratchFile("linear.exr");
    ASSERT_TRUE(imagef4::writeExr(path.string(), image));
    const cv::Mat back = cv::imread(path.string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(back.type(), CV_32FC3);
    EXPECT_EQ(cv::norm(back, image, cv::NORM_INF), 0.0);
}

TEST(Export, SideBySidePlacesImagesLeftToRight) {
    const auto path = scratchFile("row.png");
    ASSERT_TRUE(imagef4::writeSideBySide(path.string(),
                                         {constantImage(3, 2, 0.0f), constantImage(4, 2, 1.0f)}));
    const cv::Mat back = cv::imread(path.string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(back.cols, 7);
    ASSERT_EQ(back.rows, 2);
    EXPECT_EQ(back.at<cv::Vec3b>(1, 2), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(back.at<cv::Vec3b>(1, 3), cv::Vec3b(255, 255, 255));
    EXPECT_FALSE(imagef4::writeSideBySide(path.string(),
                                          {constantImage(3, 2, 0.0f), constantImage(3, 3, 0.0f)}));
}

}  // namespace
