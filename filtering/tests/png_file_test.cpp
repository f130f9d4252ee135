// The preview's PNG files, read back by OpenCV's own decoder.
#include "frame_io/png_file.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "frame_io/preview.h"
#include "test_files.h"

using namespace filtering;

TEST(PngFile, ReadsBackAsWritten) {
    TemporaryFolder folder;
    for (const auto& [rows, cols] : {std::pair{1, 1}, std::pair{7, 13}, std::pair{64, 3}}) {
        cv::Mat image(rows, cols, CV_8UC3);
        cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(256));
        const std::string path = (folder.path() / "image.png").string();
        ASSERT_TRUE(writePng(path, image));
        const cv::Mat back = cv::imread(path, cv::IMREAD_UNCHANGED);
        ASSERT_EQ(back.type(), CV_8UC3) << rows << " x " << cols;
        EXPECT_EQ(cv::norm(back, image, cv::NORM_INF), 0.0) << rows << " x " << cols;
    }
}

TEST(PngFile, PreviewIsToneMappedAndRefusals) {
    TemporaryFolder folder;
    cv::Mat linear(2, 2, CV_32FC3, cv::Scalar(0.0f, 0.5f, 4.0f));
    const std::string path = (folder.path() / "preview.png").string();
    ASSERT_TRUE(writePreview(path, linear));
    const cv::Mat back = cv::imread(path, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(back.type(), CV_8UC3);
    EXPECT_EQ(back.at<cv::Vec3b>(1, 1), cv::Vec3b(0, 188, 255));  // sRGB of 0.5 is 0.7354

    EXPECT_FALSE(writePng(path, cv::Mat(2, 2, CV_8UC1, cv::Scalar(0))));
    EXPECT_FALSE(writePng((folder.path() / "no/such/folder.png").string(), back));
}
