#include <cstdio>
#include <iostream>
#include <optional>
#include <utility>

#include "default_mode/pipeline.h"
#include "default_mode/prepared_frame.h"
#include "frame_io/exr_frame.h"
#include "frame_io/exr_output.h"
#include "frame_io/frame.h"
#include "frame_io/output_file.h"
#include "frame_io/preview.h"
#include "program/program_options.h"
#include "quality_mode/quality_pipeline.h"

using namespace filtering;

namespace {

// Each mode's frame is let go before the result is written.
std::optional<DenoisedFrame> denoiseLayers(const ProgramOptions& options) {
    const FramePaths paths(options.root);
    if (options.quality) {
        const std::optional<Frame> frame = loadFrame(paths);
        return frame ? std::optional(denoiseForQuality(*frame)) : std::nullopt;
    }
    std::optional<PreparedFrame> prepared = loadPreparedFrame(paths);
    return prepared ? std::optional(denoise(std::move(*prepared))) : std::nullopt;
}

DenoisedFrame denoiseExr(ExrFrame& loaded, bool quality) {
    if (quality) {
        return denoiseForQuality(loaded.frame);
    }
    return denoise(std::move(loaded.frame));
}

bool endsWith(const std::string& text, std::string_view ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool writableBeforeTheWork(const std::string& path) {
    std::string error;
    if (!path.empty() && !canWriteFile(path, error)) {
        std::cerr << "filtering: can't write " << path << ": " << error << std::endl;
        return false;
    }
    return true;
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
    const bool fromExr = !options->input.empty();
    const std::string output = options->output.empty() ? defaultOutput(*options) : options->output;
    const bool toExr = fromExr ? !endsWith(output, ".imagef4") : namesExrFile(output);
    if (!toExr && (options->written.half || options->written.keepPasses)) {
        std::cerr << "filtering: --half and --keep-passes are for OpenEXR output\n";
        return 2;
    }
    if (!writableBeforeTheWork(output) || !writableBeforeTheWork(options->preview)) {
        return 1;
    }
    std::optional<ExrFrame> exr;
    std::optional<DenoisedFrame> result;
    if (fromExr) {
        exr = loadExrFrame(options->input, options->exr);
        if (exr) result = denoiseExr(*exr, options->quality);
    } else {
        result = denoiseLayers(*options);
    }
    if (!result) {
        return 1;
    }
    std::printf("Spent %lf seconds\n", result->seconds);
    std::fflush(stdout);
    const bool written =
        toExr ? writeExrImage(output, result->image, exr ? exr->alpha : cv::Mat(),
                              exr ? &exr->header : nullptr, options->input, options->written)
              : save_float4(output, result->image);
    if (!written) {
        return 1;
    }
    if (!options->preview.empty() && !writePreview(options->preview, result->image)) {
        return 1;
    }
    return 0;
}
