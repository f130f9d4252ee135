#include <cstdio>
#include <iostream>
#include <optional>
#include <utility>

#include "default_mode/pipeline.h"
#include "default_mode/prepared_frame.h"
#include "frame_io/frame.h"
#include "frame_io/preview.h"
#include "program/program_options.h"
#include "quality_mode/quality_pipeline.h"

using namespace filtering;

namespace {

// Each mode's frame is let go before the result is written.
std::optional<DenoisedFrame> denoiseDefault(const FramePaths& paths) {
    std::optional<PreparedFrame> prepared = loadPreparedFrame(paths);
    if (!prepared) {
        return std::nullopt;
    }
    return denoise(std::move(*prepared));
}

std::optional<DenoisedFrame> denoiseQuality(const FramePaths& paths) {
    const std::optional<Frame> frame = loadFrame(paths);
    if (!frame) {
        return std::nullopt;
    }
    return denoiseForQuality(*frame);
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseOptions({argv + 1, argv + argc}, error);
    if (!options) {
        std::cerr << "filtering: " << error << "\n" << usage(argv[0]);
        return 2;
    }
    if (options->help) {
        std::cout << usage(argv[0]);
        return 0;
    }
    const FramePaths paths(options->root);
    const std::optional<DenoisedFrame> result =
        options->quality ? denoiseQuality(paths) : denoiseDefault(paths);
    if (!result) {
        return 1;
    }
    std::printf("Spent %lf seconds\n", result->seconds);
    std::fflush(stdout);
    const std::string output = options->output.empty() ? paths.output() : options->output;
    if (!save_float4(output, result->image)) {
        return 1;
    }
    if (!options->preview.empty() && !writePreview(options->preview, result->image)) {
        return 1;
    }
    return 0;
}
