#include "image_export.h"

#include <cstdlib>
#include <iostream>
#include <opencv2/imgcodecs.hpp>

#include "frame_io/preview.h"

namespace imagef4 {

namespace {

bool write(const std::string& path, const cv::Mat& image) {
    try {
        if (cv::imwrite(path, image)) {
            return true;
        }
    } catch (const cv::Exception& error) {
        std::cerr << "imagef4: " << path << ": " << error.what() << std::endl;
    }
    std::cerr << "imagef4: can't write " << path << std::endl;
    return false;
}

}  // namespace

bool writeExr(const std::string& path, const cv::Mat& linear) {
    // OpenCV keeps its EXR codec off unless asked before its first use.
    setenv("OPENCV_IO_ENABLE_OPENEXR", "1", 0);
    return write(path, linear);
}

bool writeSideBySide(const std::string& path, const std::vector<cv::Mat>& linearImages,
                     float exposure) {
    std::vector<cv::Mat> displays;
    for (const cv::Mat& image : linearImages) {
        if (image.rows != linearImages.front().rows) {
            std::cerr << "imagef4: side-by-side images differ in height" << std::endl;
            return false;
        }
        displays.push_back(filtering::toDisplayBytes(image, exposure));
    }
    cv::Mat row;
    cv::hconcat(displays, row);
    return write(path, row);
}

}  // namespace imagef4
