// The peer of `filtering`'s timed work as a new process meets it: one
// cv::ximgproc::dtFilter call (DTF_RF, four iterations, four threads) on a
// saved frame's secondary light guided by its texture colour, with the
// frame's own sigmas. Prints "dtFilter <seconds>". bench/cold_runs runs it
// and `filtering` in turns, each in a fresh process.
//
//   dtfilter_once ROOT      (ROOT holds filter/input_bin/, filter/settings.txt)
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/ximgproc/edge_filter.hpp>
#include <string>

#include "default_mode/pipeline.h"
#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ROOT\n", argv[0]);
        return 2;
    }
    std::string root = argv[1];
    if (!root.empty() && root.back() != '/') {
        root += '/';
    }
    const filtering::FramePaths paths(root);
    const cv::Mat light = filtering::read_float4(paths.layer(filtering::Secondary));
    const cv::Mat texColor = filtering::read_float4(paths.layer(filtering::TexColor));
    filtering::FilterSettings settings;
    if (light.empty() || texColor.empty() || !filtering::readSettings(paths.settings(), settings)) {
        return 1;
    }
    cv::setNumThreads(4);
    cv::Mat filtered;
    const int64 start = cv::getTickCount();
    cv::ximgproc::dtFilter(texColor, light, filtered, filtering::clampSigma(settings.spatialSigma),
                           filtering::clampSigma(settings.rangeSigma), cv::ximgproc::DTF_RF, 4);
    const int64 end = cv::getTickCount();
    std::printf("dtFilter %f\n", static_cast<double>(end - start) / cv::getTickFrequency());
    return 0;
}
