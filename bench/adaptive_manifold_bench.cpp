// Host adaptive-manifold filter against OpenCV's, at equal tree nodes,
// sigmas and thread team, on a 1024 x 1024 three-channel image.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <opencv2/core.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench_images.h"
#include "instruction_sets.h"
#include "median_collector.h"
#include "quendel/adaptive_manifold_filter.h"
#include "quendel/source_vector.h"
#include "quendel/threads.h"

#ifdef QUENDEL_HAVE_XIMGPROC
#include <opencv2/ximgproc/edge_filter.hpp>
#endif

namespace {

constexpr unsigned kSize = 1024;
constexpr float kSigmaS = 16.0f;
constexpr float kSigmaR = 0.2f;

quendel::CpuTexture makeImage(unsigned channels, unsigned seed) {
    return benchmarkImage(kSize, channels, seed);
}

const quendel::CpuTexture& image() {
    static const quendel::CpuTexture texture = makeImage(3, 1);
    return texture;
}

// The three-channel guide is the image itself; the nine- and sixteen-channel
// ones are the image and six or thirteen more planes, the latter standing
// for the pipeline's guide.
const quendel::CpuTexture& guide(unsigned channels) {
    static std::map<unsigned, quendel::CpuTexture> guides;
    auto found = guides.find(channels);
    if (found == guides.end()) {
        quendel::CpuTexture texture = image().clone(0);
        const quendel::CpuTexture extra = makeImage(channels - 3, 2);
        for (unsigned c = 0; c < extra.getChannelsCount(); ++c) {
            texture.appendPlane(extra.planeHandle(c));
        }
        found = guides.emplace(channels, texture).first;
    }
    return found->second;
}

void ours(benchmark::State& state) {
    const int maxDepth = static_cast<int>(state.range(0));
    const unsigned guideChannels = static_cast<unsigned>(state.range(1));
    quendel::setThreadCount(static_cast<int>(state.range(2)));
    quendel::SourceVector<quendel::CpuFiltering> source(image());
    source.features = guide(guideChannels);
    source.built = true;
    source.sigmaS = kSigmaS;
    source.sigmaR = kSigmaR;
    quendel::CpuTexture output(nullptr, kSize, kSize, 3, true);
    quendel::AdaptiveManifoldFilter<quendel::CpuFiltering> filter;
    filter.process(&output, source, maxDepth);  // both filters time their steady state
    for (auto _ : state) {
        std::srand(1);
        filter.process(&output, source, maxDepth);
        benchmark::DoNotOptimize(output.getChannel(0));
    }
    state.counters["nodes"] = static_cast<double>((1 << (maxDepth + 2)) - 1);
    quendel::setThreadCount(quendel::kDefaultThreadCount);
}

#ifdef QUENDEL_HAVE_XIMGPROC
cv::Mat interleaved(const quendel::CpuTexture& texture) {
    const int channels = static_cast<int>(texture.getChannelsCount());
    cv::Mat mat(kSize, kSize, CV_32FC(channels));
    float* out = mat.ptr<float>();
    for (int c = 0; c < channels; ++c) {
        const float* plane = texture.getChannel(static_cast<unsigned>(c));
        for (std::size_t p = 0; p < static_cast<std::size_t>(kSize) * kSize; ++p) {
            out[p * channels + c] = plane[p];
        }
    }
    return mat;
}

// Its tree of height H has 2^H - 1 nodes; ours 2^(maxDepth + 2) - 1.
void opencv(benchmark::State& state) {
    const int maxDepth = static_cast<int>(state.range(0));
    const unsigned guideChannels = static_cast<unsigned>(state.range(1));
    const int previousThreads = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(2)));
    const cv::Mat source = interleaved(image());
    const cv::Mat joint = interleaved(guide(guideChannels));
    cv::Ptr<cv::ximgproc::AdaptiveManifoldFilter> filter =
        cv::ximgproc::AdaptiveManifoldFilter::create();
    filter->setSigmaS(kSigmaS);
    filter->setSigmaR(kSigmaR);
    filter->setTreeHeight(maxDepth + 2);
    filter->setPCAIterations(4);  // our four rounds of power iteration
    filter->setAdjustOutliers(false);
    filter->setUseRNG(true);
    cv::Mat output;
    filter->filter(source, output, joint);
    for (auto _ : state) {
        filter->filter(source, output, joint);
        benchmark::DoNotOptimize(output.data);
    }
    state.counters["nodes"] = static_cast<double>((1 << (maxDepth + 2)) - 1);
    cv::setNumThreads(previousThreads);
}
#endif

// Ours and OpenCV's side by side for every case, so that both see the same
// load on the machine.
void registerCases() {
    for (int team : {4, 1}) {
        for (int guideChannels : {3, 9, 16}) {
            for (int maxDepth : {0, 1}) {
                std::vector<benchmark::internal::Benchmark*> pair = {
                    benchmark::RegisterBenchmark("ours", ours)};
#ifdef QUENDEL_HAVE_XIMGPROC
                pair.push_back(benchmark::RegisterBenchmark("opencv", opencv));
#endif
                for (benchmark::internal::Benchmark* benchmark : pair) {
                    benchmark->Args({maxDepth, guideChannels, team})
                        ->ArgNames({"maxDepth", "guide", "threads"})
                        ->Unit(benchmark::kMillisecond)
                        ->UseRealTime()
                        ->Iterations(1)
                        ->Repetitions(9)
                        ->ReportAggregatesOnly(true);
                }
            }
        }
    }
}

// OpenCV / ours for every case. With a team of one thread everything runs
// on the timed thread, so its CPU time is the whole work and is less
// disturbed by other load on the machine than the real time.
void printRatios(const MedianCollector& medians) {
    std::printf("\nOpenCV / ours, medians (above 1: ours is faster)\n");
    for (const auto& [args, times] : medians.byArguments()) {
        const MedianTimes* ours = medians.find("ours", args);
        const MedianTimes* peer = medians.find("opencv", args);
        if (ours == nullptr || peer == nullptr) {
            continue;
        }
        std::printf("  %-32s real: ours %8.1f ms opencv %8.1f ms ratio %.2f", args.c_str(),
                    ours->real, peer->real, peer->real / ours->real);
        if (args.find("threads:1") != std::string::npos) {
            std::printf(" | cpu: ours %8.1f ms opencv %8.1f ms ratio %.2f", ours->cpu, peer->cpu,
                        peer->cpu / ours->cpu);
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerCases();
    MedianCollector medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
    printInstructionSets();
    printRatios(medians);
    benchmark::Shutdown();
    return 0;
}
