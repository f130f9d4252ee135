// Any byte string given as an .imagef4 file yields an image exactly when
// its header gives a positive size that the file holds, of that size and
// with every pixel's bits from the file; otherwise an empty image.
#include <cstdlib>
#include <cstring>

#include "frame_io/layer_files.h"
#include "memory_file.h"

namespace {

int32_t headerInt(const uint8_t* bytes) {
    return static_cast<int32_t>(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 |
                                uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryFile file;
    file.assign(data, size);
    const cv::Mat image = filtering::read_float4(file.path());
    const int32_t width = size >= 8 ? headerInt(data) : 0;
    const int32_t height = size >= 8 ? headerInt(data + 4) : 0;
    const bool whole =
        width > 0 && height > 0 && uint64_t(width) * uint64_t(height) <= (size - 8) / 16;
    if (image.empty() != !whole) std::abort();
    if (image.empty()) return 0;
    if (image.type() != CV_32FC3 || image.cols != width || image.rows != height) std::abort();
    // The file holds red, green, blue, alpha, bottom row first.
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = data + 8 + size_t(height - 1 - y) * size_t(width) * 16;
        const float* pixels = image.ptr<float>(y);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                if (std::memcmp(&pixels[3 * x + c], row + 16 * x + 4 * (2 - c), 4) != 0) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
