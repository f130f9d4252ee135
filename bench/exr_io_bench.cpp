// What OpenEXR frames add to a run: reading a 1024 x 1024 frame (the test
// room at 4 paths per pixel, seven passes and the beauty in 25 float
// channels, as `imagef4_tool layers-to-exr` writes it) stored without
// compression, with RLE, ZIP (as Cycles saves by default) and PIZ, and
// writing the result (float or half RGBA, the input's header and so its
// compression), against the timed work of the default mode on the same
// frame (guide build and filtering). Prints the medians and, per
// compression, (read + write float) / timed work.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "default_mode/pipeline.h"
#include "frame_conversion.h"
#include "frame_files.h"
#include "frame_io/exr_frame.h"
#include "frame_io/exr_output.h"
#include "instruction_sets.h"
#include "median_collector.h"

namespace {

constexpr int kSize = 1024;

struct Compression {
    Imf::Compression kind;
    const char* name;
};
constexpr Compression kCompressions[] = {{Imf::NO_COMPRESSION, "none"},
                                         {Imf::RLE_COMPRESSION, "rle"},
                                         {Imf::ZIP_COMPRESSION, "zip"},
                                         {Imf::PIZ_COMPRESSION, "piz"}};

struct Files {
    std::filesystem::path folder;
    std::string output;
    std::vector<std::string> frames;  // one per compression
    ~Files() { std::filesystem::remove_all(folder); }
};

const Files& files() {
    static const Files instance = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "exr-bench-XXXXXX").string();
        Files made{mkdtemp(pattern.data()), "", {}};
        const sample_frame::Scene scene = sample_frame::Scene::room();
        const auto layers = sample_frame::renderLayers(scene, {kSize, kSize, 4, 1, 0});
        const std::string root = (made.folder / "layers").string();
        made.output = (made.folder / "out.exr").string();
        bool written = sample_frame::writeFrame(root, layers, scene.camera.position,
                                                sample_frame::kSampleSettings);
        for (const Compression& compression : kCompressions) {
            made.frames.push_back(
                (made.folder / (std::string(compression.name) + ".exr")).string());
            written =
                written && imagef4::convertLayersToExr(root, made.frames.back(), compression.kind);
        }
        if (!written) {
            std::fprintf(stderr, "exr_io_bench: could not write the frames\n");
            std::exit(1);
        }
        return made;
    }();
    return instance;
}

const filtering::ExrFrame& loaded(size_t compression) {
    static std::vector<filtering::ExrFrame> frames = [] {
        std::vector<filtering::ExrFrame> all;
        for (const std::string& frame : files().frames) {
            all.push_back(*filtering::loadExrFrame(frame, {}));
        }
        return all;
    }();
    return frames[compression];
}

void read(benchmark::State& state) {
    const std::string& frame = files().frames[static_cast<size_t>(state.range(0))];
    for (auto _ : state) {
        const auto loadedFrame = filtering::loadExrFrame(frame, {});
        benchmark::DoNotOptimize(loadedFrame->frame[filtering::Primary].data);
    }
}

// What the program writes: the frame's denoised result (compressors take
// longer over the grain of a real frame than over smooth stand-ins).
const cv::Mat& result() {
    static const cv::Mat image = filtering::denoise(loaded(0).frame).image;
    return image;
}

void write(benchmark::State& state) {
    const auto compression = static_cast<size_t>(state.range(0));
    filtering::ExrWriteOptions options;
    options.half = state.range(1) != 0;
    const filtering::ExrFrame& frame = loaded(compression);
    const cv::Mat& image = result();
    for (auto _ : state) {
        filtering::writeExrImage(files().output, image, frame.alpha, &frame.header,
                                 files().frames[compression], options);
    }
}

void timedWork(benchmark::State& state) {
    const filtering::FilterInputs inputs = filtering::filterInputs(loaded(0).frame);
    for (auto _ : state) {
        state.PauseTiming();
        filtering::FilterInputs own = inputs;
        for (quendel::CpuTexture* texture :
             {&own.secondary, &own.normals, &own.distances, &own.texColor}) {
            *texture = texture->clone(0xFFFFFFFFu);
        }
        state.ResumeTiming();
        int64_t ticks = 0;
        const auto light = filtering::filterSecondary(std::move(own), ticks);
        benchmark::DoNotOptimize(light.view().data);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    files();
    result();
    auto shape = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->Iterations(1);
        b->ReportAggregatesOnly(true);
    };
    for (int c = 0; c < static_cast<int>(std::size(kCompressions)); ++c) {
        shape(benchmark::RegisterBenchmark("exr_read", read)->Arg(c)->ArgName("compression"));
        shape(benchmark::RegisterBenchmark("exr_write", write)
                  ->Args({c, 0})
                  ->ArgNames({"compression", "half"}));
        shape(benchmark::RegisterBenchmark("exr_write", write)
                  ->Args({c, 1})
                  ->ArgNames({"compression", "half"}));
    }
    shape(benchmark::RegisterBenchmark("timed_work", timedWork));
    MedianCollector medians;
    benchmark::RunSpecifiedBenchmarks(&medians);
    printInstructionSets();
    benchmark::Shutdown();
    const MedianTimes* work = medians.find("timed_work");
    if (work == nullptr) return 0;
    std::printf("\nOpenEXR frame of %dx%d, 25 float channels (median ms); timed work %.1f\n", kSize,
                kSize, work->real);
    std::printf("%-12s %8s %12s %12s %22s\n", "compression", "read", "write float", "write half",
                "(read + write) / work");
    for (int c = 0; c < static_cast<int>(std::size(kCompressions)); ++c) {
        const std::string args = "compression:" + std::to_string(c);
        const MedianTimes* reading = medians.find("exr_read", args);
        const MedianTimes* writing = medians.find("exr_write", args + "/half:0");
        const MedianTimes* halves = medians.find("exr_write", args + "/half:1");
        if (reading && writing && halves) {
            std::printf("%-12s %8.1f %12.1f %12.1f %22.2f\n", kCompressions[c].name, reading->real,
                        writing->real, halves->real, (reading->real + writing->real) / work->real);
        }
    }
    return 0;
}
