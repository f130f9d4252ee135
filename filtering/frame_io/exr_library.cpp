#include "frame_io/exr_library.h"

#include <ImfHeader.h>
#include <ImfThreading.h>

#include <mutex>
#include <thread>

#include "frame_io/exr_frame.h"

namespace filtering {

namespace {

constexpr int kLibraryMaxSide = 1 << 20;

}  // namespace

void useExrThreads() {
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::setGlobalThreadCount(
            static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
        // Well beyond the frames accepted, so that their own check speaks
        // first, yet small enough that no header can ask for absurd tables.
        Imf::Header::setMaxImageSize(kLibraryMaxSide, kLibraryMaxSide);
        Imf::Header::setMaxTileSize(kLibraryMaxSide, kLibraryMaxSide);
    });
}

}  // namespace filtering
