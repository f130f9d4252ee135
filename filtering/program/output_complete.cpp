#include "program/output_complete.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <vector>

#include "frame_io/exr_library.h"
#include "frame_io/layer_files.h"

namespace filtering {

namespace {

// isComplete() looks at the chunk offsets alone, and a file cut after them
// passes it; so every chunk is read too (one channel, a band of rows at a
// time), and reading past the end throws.
void readEveryChunk(Imf::InputPart& part) {
    const Imath::Box2i window = part.header().dataWindow();
    const Imf::ChannelList& channels = part.header().channels();
    if (channels.begin() == channels.end()) return;
    const Imf::Channel& channel = channels.begin().channel();
    constexpr int kBandRows = 64;
    const size_t width = static_cast<size_t>(window.max.x - window.min.x + 1);
    std::vector<float> band(width * kBandRows);
    for (int y = window.min.y; y <= window.max.y; y += kBandRows) {
        const int last = std::min(window.max.y, y + kBandRows - 1);
        Imf::FrameBuffer buffer;
        buffer.insert(
            channels.begin().name(),
            Imf::Slice::Make(Imf::FLOAT, band.data(),
                             Imath::Box2i({window.min.x, y}, {window.max.x, last}), sizeof(float),
                             width * sizeof(float), channel.xSampling, channel.ySampling));
        part.setFrameBuffer(buffer);
        part.readPixels(y, last);
    }
}

bool exrComplete(const std::string& path) {
    useExrThreads();
    try {
        Imf::MultiPartInputFile file(path.c_str());
        for (int index = 0; index < file.parts(); ++index) {
            Imf::InputPart part(file, index);
            if (!part.isComplete()) return false;
            readEveryChunk(part);
        }
        return file.parts() > 0;
    } catch (const std::exception&) {
        return false;
    }
}

// The layer reader reports what it finds wrong on std::cerr; here a bad
// file only means the frame is done again.
bool imagef4Complete(const std::string& path) {
    std::ostringstream ignored;
    std::streambuf* const previous = std::cerr.rdbuf(ignored.rdbuf());
    cv::Size size;
    const bool whole = readLayerSize(path, size);
    std::cerr.rdbuf(previous);
    return whole;
}

}  // namespace

bool outputComplete(const std::string& path, bool exr) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    return exr ? exrComplete(path) : imagef4Complete(path);
}

}  // namespace filtering
