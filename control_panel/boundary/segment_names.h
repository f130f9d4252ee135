#pragma once

#include <cstddef>
#include <string>

namespace quendel {

// Sizes the panel gives a segment when it has to create it. A segment made by someone else is
// used at whatever size it has.
inline constexpr std::size_t kSettingsSegmentSize = 32768;
inline constexpr std::size_t kMessageSegmentSize = 1040;
inline constexpr std::size_t kImageSegmentSize = 64 + 2560 * 1600 * 4;

// The names under which the panel and the renderer find their three segments. Each segment's
// lock is a named semaphore called like the segment plus ".lock".
struct SegmentNames {
    std::string settings = "/TelvoGuiShmem";
    std::string message = "/TelvoMessageShmem";
    std::string image = "/TelvoLDRImage";

    // The default names with a suffix appended, so that tests and side-by-side runs do not meet
    // a running panel or renderer.
    static SegmentNames withSuffix(const std::string& suffix);
};

}  // namespace quendel
