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

TEST(Flicker, ZeroWhenTheShotChangesAsItsReferenceDoesOnScreen) {
    // Any steady error, however large, is no flicker; nor is a change above
    // white, which the display clamps away.
    const std::vector<cv::Mat> references = {constantImage(4, 4, 0.0f), constantImage(4, 4, 0.5f),
                                             constantImage(4, 4, 2.0f)};
    const imagef4::ShotComparison same = imagef4::compareShots(references, references);
    EXPECT_EQ(same.flicker(), 0.0);
    EXPECT_TRUE(std::isinf(same.meanPsnr()));
    const imagef4::ShotComparison overWhite = imagef4::compareShots(
        {constantImage(4, 4, 0.0f), constantImage(4, 4, 0.5f), constantImage(4, 4, 9.0f)},
        references);
    EXPECT_EQ(overWhite.flicker(), 0.0);
    const std::vector<cv::Mat> white(3, constantImage(4, 4, 1.0f));
    const imagef4::ShotComparison steadyBlack =
        imagef4::compareShots(std::vector<cv::Mat>(3, constantImage(4, 4, 0.0f)), white);
    EXPECT_EQ(steadyBlack.flicker(), 0.0);
    EXPECT_NEAR(steadyBlack.meanPsnr(), 0.0, 1e-9);
}

TEST(Flicker, KnownValuesOnDisplayValues) {
    const cv::Mat black = constantImage(4, 4, 0.0f), white = constantImage(4, 4, 1.0f);
    // Mid grey (0.5 linear) shows as 0.735357: steps of 0.264643 to white and back.
    const cv::Mat grey = constantImage(4, 4, 0.5f);
    EXPECT_NEAR(imagef4::compareShots({grey, white, grey}, {white, white, white}).flicker(),
                1.0 - 0.735357, 1e-5);
    // Going dark while the reference goes bright: a change of 2 against it.
    EXPECT_NEAR(imagef4::compareShots({white, black}, {black, white}).flicker(), 2.0, 1e-9);
    // One of 48 values blinks off and on again over two pairs: 2 squares in 96.
    cv::Mat blink = white.clone();
    blink.at<cv::Vec3f>(2, 1)[1] = 0.0f;
    const imagef4::ShotComparison blinking =
        imagef4::compareShots({white, blink, white}, {white, white, white});
    EXPECT_NEAR(blinking.flicker(), std::sqrt(2.0 / 96.0), 1e-9);
    EXPECT_EQ(blinking.frames(), 3);
    // The mean of 0 dB and 10 log10(48) dB.
    EXPECT_NEAR(imagef4::compareShots({black, blink}, {white, white}).meanPsnr(),
                5.0 * std::log10(48.0), 1e-9);
}

TEST(Flicker, RefusesMismatchedOrTooShortShots) {
    const cv::Mat small = constantImage(2, 2, 0.0f), large = constantImage(4, 4, 0.0f);
    EXPECT_THROW(imagef4::compareShots({small, large}, {small, large}), std::invalid_argument);
    EXPECT_THROW(imagef4::compareShots({small}, {large}), std::invalid_argument);
    EXPECT_THROW(imagef4::compareShots({small, small}, {small}), std::invalid_argument);
    const imagef4::ShotComparison one = imagef4::compareShots({small}, {small});
    EXPECT_THROW(one.flicker(), std::logic_error);
    EXPECT_THROW(imagef4::ShotComparison().meanPsnr(), std::logic_error);
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
