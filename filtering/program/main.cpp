#include <iostream>
#include <string>

#include "program/frame_job.h"
#include "program/frame_sequence.h"
#include "program/output_complete.h"
#include "program/program_options.h"

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
    // Every frame of a shot names its output alike: one check for all.
    const FrameJob job = frameJob(*options);
    if (!job.writesExr() && (options->written.half || options->written.keepPasses)) {
        std::cerr << "filtering: --half and --keep-passes are for OpenEXR output\n";
        return 2;
    }
    if (!options->frames.empty()) {
        return runFrameSequence(*options);
    }
    if (options->skipExisting && outputComplete(job.output, job.writesExr())) {
        std::cerr << "filtering: " << job.output << " is already whole; skipped\n";
        return 0;
    }
    return denoiseOneFrame(job) ? 0 : 1;
}
