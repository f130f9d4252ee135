// Building the pipeline's guide on a 1024 x 1024 three-channel frame with
// its three extra sources (normals 0.5, a one-channel distance 0.4, texture
// colour 1.0), against OpenCV building a six-component patch PCA guide of
// the same frame from the same sources, at equal thread team.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench_images.h"
#include "instruction_sets.h"
#include "median_collector.h"
#include "quendel/source_vector.h"
#include "quendel/threads.h"

namespace {

constexpr int kSize = 1024;

quendel::CpuTexture makeImage(unsigned channels, unsigned seed) {
    return benchmarkImage(kSize, channels, seed);
}

struct Frame {
    quendel::CpuTexture light = makeImage(3, 1);
    quendel::CpuTexture normals = makeImage(3, 2);
    quendel::CpuTexture distance = makeImage(1, 3);
    quendel::CpuTexture colour = makeImage(3, 4);
};

const Frame& frame() {
    static const Frame instance;
    return instance;
}

void ours(benchmark::State& state) {
    quendel::setThreadCount(static_cast<int>(state.range(0)));
    const Frame& in = frame();
    for (auto _ : state) {
        quendel::SourceVector<quendel::CpuFiltering> guide(in.light);
        guide.nlmScale = 10.0f;
        guide.sourceScale = 1.0f;
        guide.addSource(in.normals, 0.5f, -1);
        guide.addSource(in.distance, 0.4f, -1);
        guide.addSource(in.colour, 1.0f, -1);
        guide.build();
        benchmark::DoNotOptimize(guide.features.getChannel(0));
    }
    quendel::setThreadCount(quendel::kDefaultThreadCount);
}

cv::Mat planeView(const quendel::CpuTexture& texture, unsigned channel) {
    return cv::Mat(kSize, kSize, CV_32F, const_cast<float*>(texture.getChannel(channel)));
}

// The 27 weighted, mean-free 3 x 3 patch planes as the rows of one matrix.
cv::Mat patchRows(const quendel::CpuTexture& image) {
    const int channels = static_cast<int>(image.getChannelsCount());
    cv::Mat rows(9 * channels, kSize * kSize, CV_32F);
    for (int c = 0; c < channels; ++c) {
        const cv::Mat plane = planeView(image, static_cast<unsigned>(c));
        const double mean = cv::mean(plane)[0];
        cv::Mat padded;
        cv::copyMakeBorder(plane, padded, 1, 1, 1, 1, cv::BORDER_REFLECT);
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                const int k = (dx + 1) * 3 + (dy + 1);
                const double weight = std::exp(-(dx * dx + dy * dy));
                cv::Mat target = rows.row(k * channels + c).reshape(1, kSize);
                padded(cv::Rect(1 + dx, 1 + dy, kSize, kSize))
                    .convertTo(target, CV_32F, weight, -mean * weight);
            }
        }
    }
    return rows;
}

void appendDivided(const quendel::CpuTexture& source, float weight, std::vector<cv::Mat>& out) {
    for (unsigned c = 0; c < source.getChannelsCount(); ++c) {
        cv::Mat plane;
        planeView(source, c).convertTo(plane, CV_32F, 1.0 / weight);
        out.push_back(plane);
    }
}

void opencv(benchmark::State& state) {
    const int previous = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(0)));
    const Frame& in = frame();
    for (auto _ : state) {
        const cv::Mat rows = patchRows(in.light);
        const cv::PCA pca(rows, cv::noArray(), cv::PCA::DATA_AS_COL, 6);
        std::vector<cv::Mat> planes;
        const cv::Mat projected = pca.project(rows) / 10.0;
        for (int j = 0; j < 6; ++j) planes.push_back(projected.row(j).reshape(1, kSize));
        appendDivided(in.light, 1.0f, planes);
        appendDivided(in.normals, 0.5f, planes);
        appendDivided(in.distance, 0.4f, planes);
        appendDivided(in.colour, 1.0f, planes);
        benchmark::DoNotOptimize(planes.back().data);
    }
    cv::setNumThreads(previous);
}

void arguments(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgName("threads")->Arg(4)->Arg(1);
    benchmark->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.0);
    benchmark->Repetitions(5)->ReportAggregatesOnly(true)->Iterations(1);
}

BENCHMARK(ours)->Apply(arguments);
BENCHMARK(opencv)->Apply(arguments);

void printRatios(const MedianCollector& medians) {
    std::printf("\nOpenCV / ours (medians; above 1 means ours is faster)\n");
    for (const auto& [args, times] : medians.byArguments()) {
        const MedianTimes* our = medians.find("ours", args);
        const MedianTimes* peer = medians.find("opencv", args);
        if (our == nullptr || peer == nullptr) continue;
        std::printf(
            "  %-10s real: ours %7.1f ms opencv %7.1f ms ratio %.2f   "
            "main-thread cpu: ours %7.1f ms opencv %7.1f ms ratio %.2f\n",
            args.c_str(), our->real, peer->real, peer->real / our->real, our->cpu, peer->cpu,
            peer->cpu / our->cpu);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    MedianCollector medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
    printInstructionSets();
    printRatios(medians);
    benchmark::Shutdown();
    return 0;
}
