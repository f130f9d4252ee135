// The timed part of the filtering program (guide build and filtering of the
// secondary light, as `filterSecondary` runs it) on a 1024 x 1024 sample
// frame of the test room at 4 paths per pixel, against OpenCV's recursive
// domain-transform filter of the same light guided by the texture colour,
// at team sizes 4 and 1. Prints the median of each and OpenCV / ours, and
// the quality mode's timed work against the default's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <utility>
#include <vector>

#include "default_mode/pipeline.h"
#include "frame_files.h"
#include "instruction_sets.h"
#include "median_collector.h"
#include "quality_mode/quality_pipeline.h"
#include "quendel/threads.h"
#include "working_frame.h"
#ifdef QUENDEL_HAVE_XIMGPROC
#include <opencv2/ximgproc/edge_filter.hpp>
#endif

namespace {

constexpr int kSize = 1024;
constexpr int kTeams[] = {4, 1};
// The peer's best sigmas on 4-path frames in quality_table.
constexpr double kPeerSigmaSpatial = 5.0, kPeerSigmaColor = 0.5;
// As many iterations as our filter makes.
constexpr int kPeerIterations = 4;

const filtering::Frame& frame() {
    static const filtering::Frame instance = [] {
        const sample_frame::Scene scene = sample_frame::Scene::room();
        const auto layers = sample_frame::renderLayers(scene, {kSize, kSize, 4, 1, 0});
        return sample_frame::toFrame(layers, scene.camera.position, sample_frame::kSampleSettings);
    }();
    return instance;
}

const filtering::FilterInputs& inputs() {
    static const filtering::FilterInputs instance = filtering::filterInputs(frame());
    return instance;
}

filtering::FilterInputs privateCopy(const filtering::FilterInputs& in) {
    constexpr unsigned kAllPlanes = 0xFFFFFFFFu;
    filtering::FilterInputs copy = in;
    for (quendel::CpuTexture* texture :
         {&copy.secondary, &copy.normals, &copy.distances, &copy.texColor}) {
        *texture = texture->clone(kAllPlanes);
    }
    return copy;
}

void ours(benchmark::State& state) {
    quendel::setThreadCount(static_cast<int>(state.range(0)));
    const filtering::FilterInputs& in = inputs();
    for (auto _ : state) {
        // As in the program, the guide gets planes of its own to take over.
        state.PauseTiming();
        filtering::FilterInputs own = privateCopy(in);
        state.ResumeTiming();
        int64_t ticks = 0;
        const filtering::FilteredLight light = filtering::filterSecondary(std::move(own), ticks);
        benchmark::DoNotOptimize(light.view().data);
    }
    quendel::setThreadCount(quendel::kDefaultThreadCount);
}

// The quality mode's timed work on the same frame.
void quality(benchmark::State& state) {
    quendel::setThreadCount(static_cast<int>(state.range(0)));
    const filtering::Frame& in = frame();
    const filtering::QualityParameters parameters;
    for (auto _ : state) {
        int64_t ticks = 0;
        const filtering::QualityLight light =
            filtering::filterLightForQuality(in, parameters, ticks);
        benchmark::DoNotOptimize(light.secondary.data);
    }
    quendel::setThreadCount(quendel::kDefaultThreadCount);
}

#ifdef QUENDEL_HAVE_XIMGPROC
void opencv(benchmark::State& state) {
    const int previous = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(0)));
    const filtering::Frame& in = frame();
    cv::Mat filtered;
    for (auto _ : state) {
        cv::ximgproc::dtFilter(in[filtering::TexColor], in[filtering::Secondary], filtered,
                               kPeerSigmaSpatial, kPeerSigmaColor, cv::ximgproc::DTF_RF,
                               kPeerIterations);
        benchmark::DoNotOptimize(filtered.data);
    }
    cv::setNumThreads(previous);
}
#endif

void registerAll() {
    auto shape = [](benchmark::internal::Benchmark* b) {
        for (int team : kTeams) {
            b->Arg(team);
        }
        b->ArgName("team")->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7);
        b->ReportAggregatesOnly(true)->Iterations(1);
    };
    shape(benchmark::RegisterBenchmark("pipeline_ours", ours));
    shape(benchmark::RegisterBenchmark("pipeline_quality", quality));
#ifdef QUENDEL_HAVE_XIMGPROC
    shape(benchmark::RegisterBenchmark("pipeline_opencv", opencv));
#endif
}

// One line per team: the medians of `first` and `second` and second / first,
// for real time and for the calling thread's CPU time.
void printRatios(const MedianCollector& medians, const char* first, const char* second,
                 const char* firstLabel, const char* secondLabel) {
    std::printf("%-5s %10s %10s %12s %10s %10s %12s\n", "team", firstLabel, secondLabel,
                "ratio real", "cpu", "cpu", "ratio cpu");
    for (int team : kTeams) {
        const std::string args = "team:" + std::to_string(team);
        const MedianTimes* a = medians.find(first, args);
        const MedianTimes* b = medians.find(second, args);
        if (a == nullptr || b == nullptr) {
            std::printf("%-5d (not measured)\n", team);
            continue;
        }
        std::printf("%-5d %10.1f %10.1f %12.2f %10.1f %10.1f %12.2f\n", team, a->real, b->real,
                    b->real / a->real, a->cpu, b->cpu, b->cpu / a->cpu);
    }
}

void printSummary(const MedianCollector& medians) {
    std::printf(
        "\nPipeline, %dx%d sample frame: guide build + filtering of the secondary light "
        "(median ms; cpu = calling thread)\n",
        kSize, kSize);
    printRatios(medians, "pipeline_ours", "pipeline_opencv", "ours", "opencv");
    std::printf("\nThe quality mode's timed work (filterLightForQuality) against the default's\n");
    printRatios(medians, "pipeline_ours", "pipeline_quality", "default", "quality");
}

}  // namespace

int main(int argc, char** argv) {
    // Repetitions of the two sides take turns, so that a change in the
    // machine's load weighs on both alike.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    registerAll();
    inputs();
    MedianCollector medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
    printInstructionSets();
    benchmark::Shutdown();
    printSummary(medians);
    return 0;
}
