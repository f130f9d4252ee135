#pragma once

// Frames made in memory for the pipeline's tests.

#include <cstring>
#include <opencv2/core.hpp>

#include "frame_io/frame.h"

namespace filtering {

inline bool bitIdentical(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() &&
           std::memcmp(a.data, b.data, a.total() * a.elemSize()) == 0;
}

/// A frame with smooth layers and a noisy secondary light over two regions
/// that differ in texture colour and normal.
inline Frame syntheticFrame(int width, int height) {
    Frame frame;
    frame.camera = {0.5f, -1.0f, 2.0f};
    frame.settings = {0.3f, 4.0f};
    cv::RNG random(17);
    for (cv::Mat& layer : frame.layers) {
        layer.create(height, width, CV_32FC3);
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool left = x < width / 2;
            frame[Primary].at<cv::Vec3f>(y, x) = cv::Vec3f(0.2f, 0.3f, 0.4f) * (left ? 1.0f : 2.0f);
            frame[Secondary].at<cv::Vec3f>(y, x) =
                cv::Vec3f(random.uniform(0.0f, 1.0f), random.uniform(0.0f, 0.5f),
                          random.uniform(0.25f, 1.25f));
            frame[TexColor].at<cv::Vec3f>(y, x) =
                left ? cv::Vec3f(0.8f, 0.1f, 0.1f) : cv::Vec3f(0.1f, 0.7f, 0.2f);
            frame[Normals].at<cv::Vec3f>(y, x) = left ? cv::Vec3f(0, 0, 1) : cv::Vec3f(-1, 0, 0);
            frame[Positions].at<cv::Vec3f>(y, x) = cv::Vec3f(-3.0f, 0.1f * y, 0.1f * x);
            frame[TexCoord].at<cv::Vec3f>(y, x) = cv::Vec3f(0, 0.05f * y, 0.05f * x);
            frame[Rest].at<cv::Vec3f>(y, x) = cv::Vec3f(0.01f * (x % 3), 0, 0.5f * (y == 2));
        }
    }
    return frame;
}

}  // namespace filtering
