// Any byte string given as an .imagef4 file yields either an empty image or
// one whose size matches the header and whose pixels all came from the file.
#include <cstdlib>

#include "frame_io/layer_files.h"
#include "memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryFile file;
    file.assign(data, size);
    const cv::Mat image = filtering::read_float4(file.path());
    if (image.empty()) return 0;
    if (size < 8 || image.type() != CV_32FC3) std::abort();
    const uint64_t pixels = uint64_t(image.cols) * uint64_t(image.rows);
    if (pixels * 16 > size - 8) std::abort();
    return 0;
}
