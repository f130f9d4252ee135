#pragma once

#include <optional>
#include <string>
#include <vector>

#include "frame_io/exr_frame.h"
#include "frame_io/exr_output.h"

namespace filtering {

struct ProgramOptions {
    std::string root;     // folder holding "filter/"
    std::string input;    // an OpenEXR frame instead of the root's layers
    std::string output;   // result file; empty for the default
    std::string preview;  // optional PNG of the result
    // The quality mode instead of the fixed pipeline.
    bool quality = false;
    bool help = false;
    // The frames of a shot (--frames), each named by the patterns' run of
    // '#'; empty for one frame.
    std::vector<int> frames;
    // Frames whose output is already whole are left as they are.
    bool skipExisting = false;
    // Frames t - temporal ... t + temporal also lend frame t their light
    // (--temporal); 0 denoises every frame alone.
    int temporal = 0;
    ExrReadOptions exr;
    ExrWriteOptions written;
};

/// Parses the command line; on a bad option returns nothing and sets `error`.
std::optional<ProgramOptions> parseOptions(const std::vector<std::string>& arguments,
                                           std::string& error);

/// Where the result goes when --output is not given: the root's
/// filter/output.imagef4, or beside an OpenEXR input, "NAME.denoised.exr".
std::string defaultOutput(const ProgramOptions& options);

std::string usage(const std::string& program);

}  // namespace filtering
