#pragma once

#include <ImfHeader.h>

#include <opencv2/core.hpp>
#include <string>

namespace filtering {

struct ExrWriteOptions {
    bool half = false;        // R, G, B, A as half floats rather than floats
    bool keepPasses = false;  // also every other channel of the source file
};

/// Writes a three-channel float working image (blue, green, red) as an
/// OpenEXR file with the channels R, G, B and A (`alpha`, one channel, or 1
/// where it is empty), atomically (see ReplacingFile).
///
/// With a `source` header, the output keeps its display and data windows
/// (the image covers the data window), pixel aspect ratio, compression and
/// every other attribute, written as scanlines; without one it is a plain
/// ZIP-compressed image of the image's size. With `options.keepPasses`
/// every channel of the file `sourcePath` other than R, G, B and A is
/// copied as it is stored. False, after a message naming the file, on failure.
bool writeExrImage(const std::string& path, const cv::Mat& image, const cv::Mat& alpha,
                   const Imf::Header* source, const std::string& sourcePath,
                   const ExrWriteOptions& options);

/// Whether an output name asks for an OpenEXR file (it ends in ".exr").
bool namesExrFile(const std::string& path);

}  // namespace filtering
