#pragma once

#include <optional>
#include <string>
#include <vector>

namespace filtering {

struct ProgramOptions {
    std::string root;     // folder holding "filter/"
    std::string output;   // result file; empty for the default under the root
    std::string preview;  // optional PNG of the result
    // The quality mode instead of the fixed pipeline.
    bool quality = false;
    bool help = false;
};

/// Parses the command line; on a bad option returns nothing and sets `error`.
std::optional<ProgramOptions> parseOptions(const std::vector<std::string>& arguments,
                                           std::string& error);

std::string usage(const std::string& program);

}  // namespace filtering
