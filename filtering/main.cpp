#include <cstdio>
#include <iostream>

#include "frame.h"
#include "program_options.h"

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
    const auto frame = loadFrame(paths);
    if (!frame) {
        return 1;
    }
    const cv::Mat& first = (*frame)[Primary];
    std::printf(
        "Loaded %d layers of %d x %d from %s, camera (%g, %g, %g), sigmas %g (range) %g "
        "(spatial)\n",
        static_cast<int>(LayerCount), first.cols, first.rows, paths.inputFolder().c_str(),
        frame->camera.x, frame->camera.y, frame->camera.z, frame->settings.rangeSigma,
        frame->settings.spatialSigma);
    for (const cv::Mat& layer : frame->layers) {
        const quendel::CpuTexture texture = toTexture(layer);
        (void)texture;
    }
    return 0;
}
