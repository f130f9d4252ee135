#include "frame_io/preview.h"

#include <cmath>
#include <iostream>

#include "frame_io/png_file.h"

namespace filtering {

namespace {

float srgbEncoded(float linear) {
    if (!(linear > 0.0f)) {  // also maps NaN to black
        return 0.0f;
    }
    if (linear >= 1.0f) {
        return 1.0f;
    }
    return linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

}  // namespace

cv::Mat toneMapped(const cv::Mat& linear, float exposure) {
    CV_Assert(linear.depth() == CV_32F);
    cv::Mat display(linear.size(), linear.type());
    const int values = linear.cols * linear.channels();
    for (int row = 0; row < linear.rows; ++row) {
        const float* in = linear.ptr<float>(row);
        float* out = display.ptr<float>(row);
        for (int i = 0; i < values; ++i) {
            out[i] = srgbEncoded(in[i] * exposure);
        }
    }
    return display;
}

cv::Mat toDisplayBytes(const cv::Mat& linear, float exposure) {
    cv::Mat bytes;
    toneMapped(linear, exposure).convertTo(bytes, CV_8U, 255.0);
    return bytes;
}

bool writePreview(const std::string& path, const cv::Mat& linear, float exposure) {
    return writePng(path, toDisplayBytes(linear, exposure));
}

}  // namespace filtering
