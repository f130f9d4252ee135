#include "program/frame_job.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <utility>

#include "default_mode/pipeline.h"
#include "default_mode/prepared_frame.h"
#include "frame_io/frame.h"
#include "frame_io/output_file.h"
#include "frame_io/preview.h"
#include "program/frame_pattern.h"
#include "quality_mode/quality_pipeline.h"
#include "temporal/frame_sampling.h"
#include "temporal/temporal_accumulation.h"
#include "temporal/temporal_blend.h"

namespace filtering {

namespace {

// Each mode's frame is let go before the result is written.
std::optional<DenoisedFrame> denoiseLayers(const FrameJob& job) {
    const FramePaths paths(job.root);
    if (job.quality) {
        const std::optional<Frame> frame = loadFrame(paths);
        return frame ? std::optional(denoiseForQuality(*frame)) : std::nullopt;
    }
    std::optional<PreparedFrame> prepared = loadPreparedFrame(paths);
    return prepared ? std::optional(denoise(std::move(*prepared))) : std::nullopt;
}

DenoisedFrame denoiseExr(ExrFrame& loaded, bool quality) {
    if (quality) {
        return denoiseForQuality(loaded.frame);
    }
    return denoise(std::move(loaded.frame));
}

bool endsWith(const std::string& text, std::string_view ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool writableBeforeTheWork(const std::string& path) {
    std::string error;
    if (!path.empty() && !canWriteFile(path, error)) {
        std::cerr << "filtering: can't write " << path << ": " << error << std::endl;
        return false;
    }
    return true;
}

std::string numbered(const std::string& name, std::optional<int> frame) {
    return frame ? frameName(name, *frame) : name;
}

bool writeResult(const FrameJob& job, const DenoisedFrame& result, const ExrFrame* exr) {
    const bool written = job.writesExr()
                             ? writeExrImage(job.output, result.image, exr ? exr->alpha : cv::Mat(),
                                             exr ? &exr->header : nullptr, job.input, job.written)
                             : save_float4(job.output, result.image);
    if (!written) {
        return false;
    }
    return job.preview.empty() || writePreview(job.preview, result.image);
}

// Features at pixel centres: the light of the neighbours is averaged in,
// then the frame is denoised; its textures stay as sharp as they are.
DenoisedFrame denoiseAveragedLight(const FrameJob& job, const TemporalFrames& frames) {
    const int64_t start = cv::getTickCount();
    std::vector<const Frame*> neighbours;
    for (const WindowFrame* neighbour : frames.neighbours) {
        neighbours.push_back(&neighbour->loaded.frame);
    }
    Frame averaged = accumulateOverTime(frames.centre.loaded.frame, neighbours);
    const double averaging = double(cv::getTickCount() - start) / cv::getTickFrequency();
    DenoisedFrame result = job.quality ? denoiseForQuality(averaged) : denoise(std::move(averaged));
    result.seconds += averaging;
    return result;
}

// Anti-aliased features: the results are averaged, anti-aliased edges and
// all (a neighbour denoised otherwise has no result and is left out). The
// quality mode's results keep fine texture and little noise: their
// neighbours are read by a cubic, which keeps the texture sharp.
DenoisedFrame blendDenoisedResults(const TemporalFrames& frames, bool quality) {
    const int64_t start = cv::getTickCount();
    std::vector<DenoisedView> neighbours;
    for (const WindowFrame* neighbour : frames.neighbours) {
        if (neighbour->denoised.image.empty()) continue;
        neighbours.push_back({&neighbour->loaded.frame, neighbour->denoised.image,
                              neighbour->number - frames.centre.number});
    }
    DenoisedFrame result;
    BlendLimits limits;
    limits.cubicReads = quality;
    result.image = blendOverTime({&frames.centre.loaded.frame, frames.centre.denoised.image},
                                 neighbours, limits);
    result.seconds = frames.centre.denoised.seconds +
                     double(cv::getTickCount() - start) / cv::getTickFrequency();
    return result;
}

}  // namespace

bool FrameJob::writesExr() const {
    return input.empty() ? namesExrFile(output) : !endsWith(output, ".imagef4");
}

FrameJob frameJob(const ProgramOptions& options, std::optional<int> frame) {
    FrameJob job;
    job.root = numbered(options.root, frame);
    job.input = numbered(options.input, frame);
    job.output = numbered(options.output.empty() ? defaultOutput(options) : options.output, frame);
    job.preview = numbered(options.preview, frame);
    job.quality = options.quality;
    job.exr = options.exr;
    job.written = options.written;
    return job;
}

void printSpent(double seconds) {
    std::printf("Spent %lf seconds\n", seconds);
    std::fflush(stdout);
}

bool denoiseOneFrame(const FrameJob& job, const DenoisedNote& denoised) {
    if (!writableBeforeTheWork(job.output) || !writableBeforeTheWork(job.preview)) {
        return false;
    }
    std::optional<ExrFrame> exr;
    std::optional<DenoisedFrame> result;
    if (!job.input.empty()) {
        exr = loadExrFrame(job.input, job.exr);
        if (exr) result = denoiseExr(*exr, job.quality);
    } else {
        result = denoiseLayers(job);
    }
    if (!result) {
        return false;
    }
    denoised(result->seconds);
    return writeResult(job, *result, exr ? &*exr : nullptr);
}

bool denoiseWithNeighbours(const FrameJob& job, const TemporalFrames& frames,
                           const DenoisedNote& denoised) {
    if (!writableBeforeTheWork(job.output) || !writableBeforeTheWork(job.preview)) {
        return false;
    }
    const DenoisedFrame result = frames.centre.denoised.image.empty()
                                     ? denoiseAveragedLight(job, frames)
                                     : blendDenoisedResults(frames, job.quality);
    denoised(result.seconds);
    return writeResult(job, result, job.input.empty() ? nullptr : &frames.centre.loaded);
}

FrameLoader shotFrameLoader(const ProgramOptions& options) {
    return [options](int frame) -> std::shared_ptr<const WindowFrame> {
        const FrameJob job = frameJob(options, frame);
        std::error_code error;
        auto held = std::make_shared<WindowFrame>();
        held->number = frame;
        if (!job.input.empty()) {
            if (!std::filesystem::exists(job.input, error)) return nullptr;
            std::optional<ExrFrame> exr = loadExrFrame(job.input, job.exr);
            if (!exr) return nullptr;
            held->loaded = std::move(*exr);
        } else {
            const FramePaths paths(job.root);
            if (!std::filesystem::exists(paths.layer(Primary), error)) return nullptr;
            std::optional<Frame> layers = loadFrame(paths);
            if (!layers) return nullptr;
            held->loaded.frame = std::move(*layers);
        }
        if (!hasAntiAliasedFeatures(held->loaded.frame)) return held;
        // The modes may reuse a layer's pixels; the window keeps the frame
        // for matching its neighbours.
        Frame own = held->loaded.frame;
        for (cv::Mat& layer : own.layers) layer = layer.clone();
        own.glossyLight = own.glossyLight.clone();
        own.glossyColor = own.glossyColor.clone();
        held->denoised = job.quality ? denoiseForQuality(own) : denoise(std::move(own));
        return held;
    };
}

}  // namespace filtering
