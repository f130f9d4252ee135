#include "program/program_options.h"

#include "frame_io/frame_paths.h"

namespace filtering {

std::optional<ProgramOptions> parseOptions(const std::vector<std::string>& arguments,
                                           std::string& error) {
    ProgramOptions options;
    options.root = std::string(kDefaultRoot);
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= arguments.size()) {
                error = "option " + argument + " needs a value";
                return false;
            }
            into = arguments[++i];
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--quality") {
            options.quality = true;
        } else if (argument == "--root") {
            if (!value(options.root)) return std::nullopt;
        } else if (argument == "--output") {
            if (!value(options.output)) return std::nullopt;
        } else if (argument == "--preview") {
            if (!value(options.preview)) return std::nullopt;
        } else {
            error = "unknown option " + argument;
            return std::nullopt;
        }
    }
    return options;
}

std::string usage(const std::string& program) {
    return "usage: " + program +
           " [--root DIR] [--output FILE] [--preview FILE.png] [--quality]\n"
           "Denoises one saved frame: reads DIR/filter/input_bin/*.imagef4, DIR/filter/camera.txt\n"
           "and DIR/filter/settings.txt, writes DIR/filter/output.imagef4.\n"
           "  --root DIR        folder holding filter/ (default \"" +
           std::string(kDefaultRoot) +
           "\")\n"
           "  --output FILE     write the result here instead\n"
           "  --preview FILE    also write a tone-mapped PNG of the result\n"
           "  --quality         a slower, stronger mode: a guide from the frame's geometry,\n"
           "                    strength from the frame's measured noise, the direct light\n"
           "                    filtered too and outliers spread out\n"
           "  --help            show this text\n";
}

}  // namespace filtering
