// The device TDR, H and adaptive-manifold filters beside their host
// counterparts on the same 1024 x 1024 frame in one run, and the ratio
// host / device of their medians. The device filters run on whatever
// runtime is active (a CUDA device when present, the host emulator
// otherwise); the summary names it. The host TDR filter makes four
// iterations where the device one makes one, so the table also gives the
// host per iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_images.h"
#include "host_filters/h_filter.h"
#include "instruction_sets.h"
#include "median_collector.h"
#include "quendel/adaptive_manifold_filter.h"
#include "quendel/device_runtime.h"
#include "quendel/gpu_adaptive_manifold_filter.h"
#include "quendel/gpu_filters.h"
#include "quendel/source_vector.h"
#include "quendel/tdr_filter.h"
#include "quendel/threads.h"

namespace {

constexpr unsigned kSize = 1024;
constexpr float kSigmaS = 16.0f;
constexpr float kSigmaR = 0.2f;
constexpr unsigned kImageChannels = 3;
constexpr unsigned kGuideChannels = 8;
constexpr int kTreeDepth = 1;  // seven manifolds

// Smooth shapes with a hard edge under noise: values in [0, 1].
quendel::CpuTexture makeImage(unsigned channels, unsigned seed) {
    return benchmarkImage(kSize, channels, seed);
}

struct Frame {
    quendel::CpuTexture image = makeImage(kImageChannels, 1);
    quendel::CpuTexture guide = makeImage(kGuideChannels, 2);
};

const Frame& frame() {
    static const Frame shared;
    return shared;
}

quendel::SourceVector<quendel::CpuFiltering> source() {
    quendel::SourceVector<quendel::CpuFiltering> vector(frame().image);
    vector.features = frame().guide;
    vector.built = true;
    vector.sigmaS = kSigmaS;
    vector.sigmaR = kSigmaR;
    return vector;
}

// Every timed call filters a fresh private copy: the copy is outside the
// timing, and the work does not depend on the values.
template <typename Filter>
void timeOnCopies(benchmark::State& state, Filter filter) {
    for (auto _ : state) {
        state.PauseTiming();
        quendel::CpuTexture copy = frame().image.clone(~0u);
        state.ResumeTiming();
        benchmark::DoNotOptimize(filter(copy));
    }
}

void hostTdr(benchmark::State& state) {
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    timeOnCopies(state, [&](quendel::CpuTexture& image) {
        return filter.process(image, frame().guide, kSigmaS, kSigmaR);
    });
}

void deviceTdr(benchmark::State& state) {
    quendel::TDRFilter<quendel::GpuFiltering> filter;
    quendel::GpuTexture guide(frame().guide);
    timeOnCopies(state, [&](quendel::CpuTexture& image) {
        quendel::GpuTexture onDevice(image);
        return filter.process(onDevice, guide, kSigmaS, kSigmaR);
    });
}

void hostH(benchmark::State& state) {
    timeOnCopies(state, [&](quendel::CpuTexture& image) {
        quendel::horizontalHPass(image, kSigmaS);
        quendel::verticalHPass(image, kSigmaS);
        return true;
    });
}

void deviceH(benchmark::State& state) {
    quendel::HFilter<quendel::GpuFiltering> filter;
    timeOnCopies(state, [&](quendel::CpuTexture& image) {
        quendel::GpuTexture onDevice(image);
        return filter.process(onDevice, kSigmaS);
    });
}

void hostAdaptiveManifold(benchmark::State& state) {
    quendel::AdaptiveManifoldFilter<quendel::CpuFiltering> filter;
    quendel::SourceVector<quendel::CpuFiltering> vector = source();
    quendel::CpuTexture output(nullptr, kSize, kSize, kImageChannels, true);
    for (auto _ : state) {
        std::srand(1);
        benchmark::DoNotOptimize(filter.process(&output, vector, kTreeDepth));
    }
}

void deviceAdaptiveManifold(benchmark::State& state) {
    quendel::AdaptiveManifoldFilter<quendel::GpuFiltering> filter;
    quendel::SourceVector<quendel::CpuFiltering> vector = source();
    quendel::GpuTexture output(nullptr, kSize, kSize, kImageChannels, true);
    for (auto _ : state) {
        std::srand(1);
        benchmark::DoNotOptimize(filter.process(&output, vector, kTreeDepth));
    }
}

void registerAll() {
    auto shape = [](benchmark::internal::Benchmark* b, int repetitions) {
        b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(repetitions);
        b->ReportAggregatesOnly(true)->Iterations(1);
    };
    shape(benchmark::RegisterBenchmark("tdr_host", hostTdr), 7);
    shape(benchmark::RegisterBenchmark("tdr_device", deviceTdr), 7);
    shape(benchmark::RegisterBenchmark("h_host", hostH), 7);
    shape(benchmark::RegisterBenchmark("h_device", deviceH), 7);
    shape(benchmark::RegisterBenchmark("adaptive_manifold_host", hostAdaptiveManifold), 3);
    shape(benchmark::RegisterBenchmark("adaptive_manifold_device", deviceAdaptiveManifold), 3);
}

void printSummary(const MedianCollector& medians) {
    auto find = [&](const std::string& name) {
        const MedianTimes* times = medians.find(name);
        return times == nullptr ? -1.0 : times->real;
    };
    std::printf("\nDevice filters on %s, host filters on a team of %d threads\n",
                quendel::deviceRuntimeName(quendel::activeDeviceRuntime()), quendel::threadCount());
    std::printf(
        "%ux%u, %u-channel image, %u-channel guide, sigmaS %g, sigmaR %g, "
        "tree depth limit %d (median ms)\n",
        kSize, kSize, kImageChannels, kGuideChannels, kSigmaS, kSigmaR, kTreeDepth);
    std::printf("%-34s %12s %12s %12s\n", "filter", "host", "device", "host/device");
    struct Row {
        const char* label;
        double host;
        double device;
    };
    const Row rows[] = {
        {"TDR (host 4 iterations, device 1)", find("tdr_host"), find("tdr_device")},
        {"TDR per iteration", find("tdr_host") / 4.0, find("tdr_device")},
        {"H", find("h_host"), find("h_device")},
        {"adaptive manifold", find("adaptive_manifold_host"), find("adaptive_manifold_device")},
    };
    for (const Row& row : rows) {
        std::printf("%-34s %12.2f %12.2f %12.2f\n", row.label, row.host, row.device,
                    row.host / row.device);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    registerAll();
    frame();
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    printInstructionSets();
    benchmark::Shutdown();
    printSummary(collector);
    return 0;
}
