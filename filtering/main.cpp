#include <cstdio>
#include <iostream>
#include <utility>

#include "frame.h"
#include "pipeline.h"
#include "preview.h"
#include "program_options.h"
#include "quality_pipeline.h"

using namespace filtering;

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
    auto frame = loadFrame(paths);
    if (!frame) {
        return 1;
    }
    const DenoisedFrame result =
        options->quality ? denoiseForQuality(*frame) : denoise(std::move(*frame));
    frame.reset();
    std::printf("Spent %lf seconds\n", result.seconds);
    std::fflush(stdout);
    const std::string output = options->output.empty() ? paths.output() : options->output;
    if (!save_float4(output, result.image)) {
        return 1;
    }
    if (!options->preview.empty() && !writePreview(options->preview, result.image)) {
        return 1;
    }
    return 0;
}
