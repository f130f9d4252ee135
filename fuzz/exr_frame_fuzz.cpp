// Any byte string given as an OpenEXR frame is either refused or read into a
// frame whose layers share one size within the limits and hold only finite
// values; the result is then written with that file's header and passes.
#include <ImfThreading.h>

#include <cmath>
#include <cstdlib>
#include <iostream>

#include "frame_io/exr_frame.h"
#include "frame_io/exr_library.h"
#include "frame_io/exr_output.h"
#include "memory_file.h"

namespace {

bool allFinite(const cv::Mat& image) {
    return image.empty() || cv::checkRange(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryFile file;
    static const bool quiet = [] {
        std::cerr.setstate(std::ios::failbit);
        // Threads cost more than they give on inputs this small.
        filtering::useExrThreads();
        Imf::setGlobalThreadCount(0);
        cv::setNumThreads(0);
        return true;
    }();
    (void)quiet;
    file.assign(data, size);
    filtering::ExrReadOptions options;
    // A few bytes of compressed data can describe a huge frame; small ones
    // reach the same code far faster.
    options.maxPixels = 1 << 14;
    // Half the inputs find their camera in the file or from depth.
    if (size > 0 && data[size - 1] % 2 == 0) options.camera = filtering::CameraPosition{0, 0, -5};
    const auto loaded = filtering::loadExrFrame(file.path(), options);
    if (!loaded) return 0;
    const cv::Size frameSize = loaded->frame[filtering::Primary].size();
    if (frameSize.empty() || frameSize.width > filtering::kMaxFrameSide ||
        frameSize.height > filtering::kMaxFrameSide) {
        std::abort();
    }
    for (filtering::Layer layer : {filtering::Primary, filtering::Secondary, filtering::TexColor,
                                   filtering::Normals, filtering::Positions, filtering::Rest}) {
        const cv::Mat& image = loaded->frame[layer];
        if (image.size() != frameSize || image.type() != CV_32FC3 || !allFinite(image))
            std::abort();
    }
    if (!loaded->alpha.empty() && loaded->alpha.size() != frameSize) std::abort();
    filtering::ExrWriteOptions written;
    written.keepPasses = true;
    written.half = size % 2 == 1;
    // A header the library reads but will not write again is refused there
    // with a message; what matters is that nothing breaks on the way.
    filtering::writeExrImage("/dev/shm/quendel-exr-fuzz-out.exr", loaded->frame[filtering::Rest],
                             loaded->alpha, &loaded->header, file.path(), written);
    return 0;
}
