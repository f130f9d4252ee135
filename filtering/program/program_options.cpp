#include "program/program_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "frame_io/frame_paths.h"
#include "program/frame_pattern.h"

namespace filtering {

namespace {

bool parseFloat(const std::string& text, float& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtof(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && errno == 0 && std::isfinite(value);
}

// A window radius: a whole number from 0 to kMaxTemporal.
constexpr int kMaxTemporal = 16;

bool parseRadius(const std::string& text, int& radius) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    radius = static_cast<int>(value);
    return !text.empty() && end == text.c_str() + text.size() && errno == 0 && value >= 0 &&
           value <= kMaxTemporal;
}

bool parseCamera(const std::string& text, CameraPosition& camera) {
    const size_t first = text.find(',');
    const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    if (second == std::string::npos) return false;
    return parseFloat(text.substr(0, first), camera.x) &&
           parseFloat(text.substr(first + 1, second - first - 1), camera.y) &&
           parseFloat(text.substr(second + 1), camera.z);
}

bool parsePass(const std::string& text, PassChoice& choice, std::string& error) {
    const size_t equals = text.find('=');
    const auto role = roleFromName(text.substr(0, equals));
    if (equals == std::string::npos || !role || equals + 1 == text.size()) {
        error =
            "--pass takes ROLE=NAME with a role of primary, secondary, texcolor, normals, "
            "positions, depth, rest, beauty, glossydirect, glossyindirect, glossycolor; got " +
            text;
        return false;
    }
    choice.passes[*role] = text.substr(equals + 1);
    return true;
}

// A name that takes the frame number: one run of '#' with --frames, none
// without; a name without it fits one frame only. Empty names pass.
bool checkPattern(const std::string& option, const std::string& name, const ProgramOptions& options,
                  std::string& error) {
    if (name.empty()) return true;  // the default output, or no preview
    const int runs = hashRuns(name);
    const std::string quoted = option + " '" + name + "'";
    if (runs > 1) {
        error = quoted + " has " + std::to_string(runs) +
                " separate runs of #; the frame number takes one";
    } else if (runs == 1 && options.frames.empty()) {
        error = quoted + " has a run of # for the frame number, but no --frames says which frames";
    } else if (runs == 0 && options.frames.size() > 1) {
        error = quoted + " has no run of # for the frame number, and --frames names " +
                std::to_string(options.frames.size()) + " frames";
    }
    return error.empty();
}

bool checkPatterns(const ProgramOptions& options, std::string& error) {
    const bool fromExr = !options.input.empty();
    const std::string& source = fromExr ? options.input : options.root;
    const std::string sourceOption = fromExr ? "--input" : "--root";
    if (!options.frames.empty() && hashRuns(source) == 0) {
        error = "--frames needs a run of # for the frame number in " + sourceOption + " (" +
                sourceOption + " '" + source + "')";
        return false;
    }
    return checkPattern(sourceOption, source, options, error) &&
           checkPattern("--output", options.output, options, error) &&
           checkPattern("--preview", options.preview, options, error);
}

}  // namespace

std::optional<ProgramOptions> parseOptions(const std::vector<std::string>& arguments,
                                           std::string& error) {
    ProgramOptions options;
    options.root = std::string(kDefaultRoot);
    bool rootGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string text;
        auto value = [&](std::string& into) {
            if (i + 1 >= arguments.size()) {
                error = "option " + argument + " needs a value";
                return false;
            }
            into = arguments[++i];
            return true;
        };
        auto number = [&](std::optional<float>& into) {
            float parsed = 0.0f;
            if (!value(text)) return false;
            if (!parseFloat(text, parsed)) {
                error = "option " + argument + " takes a number, not " + text;
                return false;
            }
            into = parsed;
            return true;
        };
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--quality") {
            options.quality = true;
        } else if (argument == "--root") {
            if (!value(options.root)) return std::nullopt;
            rootGiven = true;
        } else if (argument == "--input") {
            if (!value(options.input)) return std::nullopt;
        } else if (argument == "--output") {
            if (!value(options.output)) return std::nullopt;
        } else if (argument == "--preview") {
            if (!value(options.preview)) return std::nullopt;
        } else if (argument == "--layer") {
            if (!value(options.exr.passes.layer)) return std::nullopt;
        } else if (argument == "--pass") {
            if (!value(text) || !parsePass(text, options.exr.passes, error)) return std::nullopt;
        } else if (argument == "--camera") {
            CameraPosition camera;
            if (!value(text)) return std::nullopt;
            if (!parseCamera(text, camera)) {
                error = "--camera takes X,Y,Z (three numbers), not " + text;
                return std::nullopt;
            }
            options.exr.camera = camera;
        } else if (argument == "--range-sigma") {
            if (!number(options.exr.rangeSigma)) return std::nullopt;
        } else if (argument == "--spatial-sigma") {
            if (!number(options.exr.spatialSigma)) return std::nullopt;
        } else if (argument == "--half") {
            options.written.half = true;
        } else if (argument == "--keep-passes") {
            options.written.keepPasses = true;
        } else if (argument == "--frames") {
            if (!value(text)) return std::nullopt;
            auto frames = parseFrameList(text, error);
            if (!frames) return std::nullopt;
            options.frames = std::move(*frames);
        } else if (argument == "--skip-existing") {
            options.skipExisting = true;
        } else if (argument == "--temporal") {
            if (!value(text)) return std::nullopt;
            if (!parseRadius(text, options.temporal)) {
                error = "--temporal takes a whole number of frames from 0 to " +
                        std::to_string(kMaxTemporal) + ", not " + text;
                return std::nullopt;
            }
        } else {
            error = "unknown option " + argument;
            return std::nullopt;
        }
    }
    const bool exrOptions = !options.exr.passes.layer.empty() ||
                            !options.exr.passes.passes.empty() || options.exr.camera ||
                            options.exr.rangeSigma || options.exr.spatialSigma ||
                            options.written.keepPasses;
    if (options.input.empty() && exrOptions) {
        error = "--layer, --pass, --camera, the sigmas and --keep-passes are for --input frames";
        return std::nullopt;
    }
    if (rootGiven && !options.input.empty()) {
        error = "--root and --input name two different frames; give one";
        return std::nullopt;
    }
    if (options.temporal > 0 && options.frames.empty()) {
        error = "--temporal takes its neighbouring frames from a shot; it needs --frames";
        return std::nullopt;
    }
    if (!checkPatterns(options, error)) {
        return std::nullopt;
    }
    return options;
}

std::string defaultOutput(const ProgramOptions& options) {
    if (options.input.empty()) {
        return FramePaths(options.root).output();
    }
    std::string stem = options.input;
    if (namesExrFile(stem)) stem.resize(stem.size() - 4);
    return stem + ".denoised.exr";
}

std::string usage(const std::string& program) {
    return "usage: " + program +
           " [--root DIR | --input FRAME.exr] [--output FILE] [--preview FILE.png] [--quality]\n"
           "       [--frames LIST [--skip-existing] [--temporal K]]\n"
           "Denoises one saved frame: the renderer's layers DIR/filter/input_bin/*.imagef4 with\n"
           "DIR/filter/camera.txt and DIR/filter/settings.txt, written to\n"
           "DIR/filter/output.imagef4; or one multilayer OpenEXR frame, written beside it as\n"
           "FRAME.denoised.exr.\n"
           "  --root DIR        folder holding filter/ (default \"" +
           std::string(kDefaultRoot) +
           "\")\n"
           "  --input FILE      a multilayer OpenEXR frame (Cycles or common AOV pass names)\n"
           "  --output FILE     write the result here instead; an OpenEXR file when the name\n"
           "                    ends in .exr, an .imagef4 file otherwise\n"
           "  --preview FILE    also write a tone-mapped PNG of the result\n"
           "  --quality         a slower, stronger mode: a guide from the frame's geometry,\n"
           "                    strength from the frame's measured noise, the direct light\n"
           "                    filtered too and outliers spread out\n"
           "OpenEXR frames:\n"
           "  --layer NAME      the view layer to read when the file holds several\n"
           "  --pass ROLE=NAME  read a role from the pass NAME; roles: primary, secondary,\n"
           "                    texcolor, normals, positions, depth, rest, beauty,\n"
           "                    glossydirect, glossyindirect, glossycolor\n"
           "  --camera X,Y,Z    the camera's position in the positions' space\n"
           "  --range-sigma R   the default mode's range sigma (else the file's, else 2)\n"
           "  --spatial-sigma S the default mode's spatial sigma (else the file's, else 10)\n"
           "  --half            write the result's channels as half floats\n"
           "  --keep-passes     also copy every other channel of the input into the output\n"
           "Shots (a run of # in a name is the zero-padded frame number):\n"
           "  --frames LIST     denoise these frames: A-B, N, A-BxS (every S-th), and comma\n"
           "                    lists of them; the frame names of --input or --root, and of\n"
           "                    --output and --preview, then need a run of #\n"
           "  --skip-existing   leave frames whose output is already whole as they are\n"
           "  --temporal K      steady each frame with frames t-K ... t+K (read when they\n"
           "                    exist, inside --frames or not) where they saw the same\n"
           "                    surface in the same light, so that the shot does not\n"
           "                    shimmer; 0 (default) denoises frames alone\n"
           "  --help            show this text\n";
}

}  // namespace filtering
