// The timed part of the filtering program (guide build and filtering of the
// secondary light) on a 1024 x 1024 sample frame, against OpenCV's
// recursive domain-transform filter of the same light guided by the texture
// colour, at equal thread team.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

#include "pipeline.h"
#include "quendel/threads.h"
#include "working_frame.h"
#ifdef QUENDEL_HAVE_XIMGPROC
#include <opencv2/ximgproc/edge_filter.hpp>
#endif

namespace {

constexpr int kSize = 1024;

const filtering::FilterInputs& inputs() {
    static const filtering::FilterInputs instance = [] {
        const sample_frame::Scene scene = sample_frame::Scene::room();
        const auto layers = sample_frame::renderLayers(scene, {kSize, kSize, 4, 1, 0});
        return filtering::filterInputs(
            sample_frame::toFrame(layers, scene.camera.position, {2.0f, 10.0f}));
    }();
    return instance;
}

void pipeline(benchmark::State& state) {
    quendel::setThreadCount(static_cast<int>(state.range(0)));
    const filtering::FilterInputs& in = inputs();
    for (auto _ : state) {
        int64_t ticks = 0;
        const filtering::FilteredLight light = filtering::filterSecondary(in, ticks);
        benchmark::DoNotOptimize(light.view().data);
    }
    quendel::setThreadCount(quendel::kDefaultThreadCount);
}

#ifdef QUENDEL_HAVE_XIMGPROC
void opencvDtFilter(benchmark::State& state) {
    const int previous = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(0)));
    const filtering::FilterInputs& in = inputs();
    cv::Mat filtered;
    for (auto _ : state) {
        cv::ximgproc::dtFilter(in.texColor, in.secondary, filtered, 10.0, 0.1, cv::ximgproc::DTF_RF,
                               3);
        benchmark::DoNotOptimize(filtered.data);
    }
    cv::setNumThreads(previous);
}
BENCHMARK(opencvDtFilter)
    ->ArgName("threads")
    ->Arg(4)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

}  // namespace

BENCHMARK(pipeline)
    ->ArgName("threads")
    ->Arg(4)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
