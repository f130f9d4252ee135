#include "frame_io/fresh_image.h"

#include <sys/mman.h>

#include <cstdint>

namespace filtering {

namespace {

#ifndef MADV_POPULATE_WRITE
constexpr int MADV_POPULATE_WRITE = 23;
#endif
constexpr uintptr_t kPage = 4096;
constexpr size_t kWorthIt = 1 << 20;

}  // namespace

cv::Mat freshImage(int rows, int cols, int type) {
    cv::Mat image(rows, cols, type);
    const auto start = reinterpret_cast<uintptr_t>(image.data) & ~(kPage - 1);
    const auto end = reinterpret_cast<uintptr_t>(image.dataend);
    if (end - start >= kWorthIt) {
        // Older kernels refuse the advice; the pages then come as written.
        madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
    }
    return image;
}

}  // namespace filtering
