// Times the host TDR filter against OpenCV's recursive domain-transform
// filter on the same image, guide and sigmas, at two team sizes, and prints
// the median of each and the ratio OpenCV / ours.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <random>
#include <string>
#include <vector>

#include "instruction_sets.h"
#include "median_collector.h"
#include "quendel/tdr_filter.h"
#include "quendel/texture.h"
#include "quendel/threads.h"

#if defined(QUENDEL_HAVE_XIMGPROC)
#include <opencv2/ximgproc/edge_filter.hpp>
#endif

namespace {

constexpr int kSize = 1024;
constexpr float kSigmaS = 10.0f;
constexpr float kSigmaR = 0.2f;
constexpr int kTeams[] = {4, 1};

// Noisy smooth shapes in [0, 1]: edges for the guide to keep, noise to smooth.
std::vector<float> interleavedImage(int channels, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
    std::vector<float> data(static_cast<size_t>(kSize) * kSize * channels);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const bool inside = (x - 400) * (x - 400) + (y - 600) * (y - 600) < 250 * 250;
            for (int c = 0; c < channels; ++c) {
                const float base = inside ? 0.2f + 0.05f * (c % 5) : 0.7f - 0.3f * x / kSize;
                float v = base + noise(random);
                data[(static_cast<size_t>(y) * kSize + x) * channels + c] =
                    v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
            }
        }
    }
    return data;
}

struct Inputs {
    std::vector<float> pixels = interleavedImage(3, 1);
    quendel::CpuTexture image{pixels.data(), kSize, kSize, 3, true};
    quendel::CpuTexture guide3 = image.clone(~0u);
    std::vector<float> features = interleavedImage(16, 2);
    quendel::CpuTexture guide16{features.data(), kSize, kSize, 16, true};
};

Inputs& inputs() {
    static Inputs shared;
    return shared;
}

void oursWithGuide(benchmark::State& state, const quendel::CpuTexture& guide) {
    quendel::setThreadCount(static_cast<int>(state.range(0)));
    quendel::CpuTexture image = inputs().image.clone(~0u);
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    filter.process(image, guide, kSigmaS, kSigmaR);  // makes the scratch planes
    for (auto _ : state) {
        // Filtering the same image again costs the same: the work does not
        // depend on the values.
        benchmark::DoNotOptimize(filter.process(image, guide, kSigmaS, kSigmaR));
    }
    quendel::setThreadCount(quendel::kDefaultThreadCount);
}

void oursGuide3(benchmark::State& state) {
    oursWithGuide(state, inputs().guide3);
}
void oursGuide16(benchmark::State& state) {
    oursWithGuide(state, inputs().guide16);
}

#if defined(QUENDEL_HAVE_XIMGPROC)
void openCvGuide3(benchmark::State& state) {
    const int previousThreads = cv::getNumThreads();
    cv::setNumThreads(static_cast<int>(state.range(0)));
    const cv::Mat image(kSize, kSize, CV_32FC3, inputs().pixels.data());
    const cv::Mat guide = image.clone();
    cv::Mat result;
    cv::ximgproc::dtFilter(guide, image, result, kSigmaS, kSigmaR, cv::ximgproc::DTF_RF, 4);
    for (auto _ : state) {
        cv::ximgproc::dtFilter(guide, image, result, kSigmaS, kSigmaR, cv::ximgproc::DTF_RF, 4);
        benchmark::DoNotOptimize(result.data);
    }
    cv::setNumThreads(previousThreads);
}
#endif

void registerAll() {
    auto shape = [](benchmark::internal::Benchmark* b) {
        for (int team : kTeams) {
            b->Arg(team);
        }
        b->ArgName("team")->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9);
        b->ReportAggregatesOnly(true)->MinTime(0.2);
    };
    shape(benchmark::RegisterBenchmark("tdr_ours_guide3", oursGuide3));
#if defined(QUENDEL_HAVE_XIMGPROC)
    shape(benchmark::RegisterBenchmark("tdr_opencv_guide3", openCvGuide3));
#endif
    shape(benchmark::RegisterBenchmark("tdr_ours_guide16", oursGuide16));
}

void printRow(int team, const char* guide, const MedianTimes& ours, const MedianTimes* openCv) {
    if (openCv == nullptr) {
        std::printf("%-5d %-12s %10.2f %10s %8s %10.2f %10s %8s\n", team, guide, ours.real, "-",
                    "-", ours.cpu, "-", "-");
        return;
    }
    std::printf("%-5d %-12s %10.2f %10.2f %8.2f %10.2f %10.2f %8.2f\n", team, guide, ours.real,
                openCv->real, openCv->real / ours.real, ours.cpu, openCv->cpu,
                openCv->cpu / ours.cpu);
}

void printSummary(const MedianCollector& medians) {
    std::printf("\nTDR filter, %dx%d, 3-channel image, sigmaS %g, sigmaR %g, medians in ms\n",
                kSize, kSize, kSigmaS, kSigmaR);
    std::printf("(cpu: the calling thread only; at team 1 it is the whole work)\n");
    std::printf("%-5s %-12s %10s %10s %8s %10s %10s %8s\n", "team", "guide", "ours", "OpenCV",
                "ratio", "ours cpu", "OpenCV cpu", "ratio");
    for (int team : kTeams) {
        const std::string args = "team:" + std::to_string(team);
        if (const MedianTimes* ours3 = medians.find("tdr_ours_guide3", args)) {
            printRow(team, "3 channels", *ours3, medians.find("tdr_opencv_guide3", args));
        }
        if (const MedianTimes* ours16 = medians.find("tdr_ours_guide16", args)) {
            printRow(team, "16 channels", *ours16, nullptr);
        }
    }
    std::printf("ratio: OpenCV / ours; OpenCV has no 16-channel guide\n");
}

}  // namespace

int main(int argc, char** argv) {
    // Repetitions of the peers take turns, so that a change in the machine's
    // load during the run weighs on both sides alike.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    registerAll();
    inputs();
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    printInstructionSets();
    benchmark::Shutdown();
    printSummary(collector);
    return 0;
}
