#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace filtering {

/// One channel of an OpenEXR file and where its values go: one channel of a
/// float image the size of the file's data window.
struct ExrChannelTarget {
    std::string name;
    cv::Mat* image;
    int channel;
};

/// Checks that the file's headers parse, each attribute within the file's
/// length, before a reader that would trust their sizes opens it. Throws
/// std::runtime_error with the library's message otherwise.
void checkExrHeaders(const std::string& path);

/// Reads the named full-resolution channels of the first part of an OpenEXR
/// file (scanline or tiled, any compression, half, float or unsigned) as
/// floats into their images, decoding the file's chunks side by side on
/// OpenCV's threads. Every other channel is left undecoded where the file's
/// compression allows. Throws std::runtime_error with the library's
/// message when the file is cut short or damaged.
void readExrChannels(const std::string& path, const std::vector<ExrChannelTarget>& targets);

}  // namespace filtering
