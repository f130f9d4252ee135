#include "program/frame_sequence.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "program/error_capture.h"
#include "program/frame_job.h"
#include "program/output_complete.h"
#include "program/progress_line.h"
#include "temporal/temporal_window.h"

namespace filtering {

namespace {

enum class Outcome { Written, Skipped, Failed };

struct Failure {
    int frame = 0;
    std::string reason;
};

// With a window, the frame as loaded there with its neighbours; without
// one, or when the window could not read it (the one-frame code says why),
// the one-frame code.
bool denoiseFrame(const FrameJob& job, int frame, TemporalWindow* window,
                  const DenoisedNote& note) {
    if (window == nullptr) return denoiseOneFrame(job, note);
    window->moveTo(frame);
    if (window->centre() == nullptr) return denoiseOneFrame(job, note);
    return denoiseWithNeighbours(job, {*window->centre(), window->neighbours()}, note);
}

// One frame through the one-frame code, its messages shown and kept.
Outcome runFrame(const FrameJob& job, int frame, TemporalWindow* window, ProgressLine& progress,
                 std::string& reason) {
    ErrorCapture capture([&progress] { progress.makeRoom(); });
    bool written = false;
    try {
        written = denoiseFrame(job, frame, window, [&progress, frame](double seconds) {
            progress.makeRoom();
            std::printf("frame %d: spent %lf seconds\n", frame, seconds);
            std::fflush(stdout);
        });
    } catch (const std::exception& failure) {
        // Out of memory or a library's own exception: this frame only.
        reason = std::string("stopped by an error: ") + failure.what();
        return Outcome::Failed;
    }
    if (!written) {
        reason = capture.lastLine();
        if (reason.empty()) reason = "failed without a message";
    }
    return written ? Outcome::Written : Outcome::Failed;
}

void reportFailures(const std::vector<Failure>& failures) {
    if (failures.empty()) return;
    std::fprintf(stderr, "filtering: failed frames:\n");
    for (const Failure& failure : failures) {
        std::fprintf(stderr, "  frame %d: %s\n", failure.frame, failure.reason.c_str());
    }
}

}  // namespace

int runFrameSequence(const ProgramOptions& options) {
    const size_t total = options.frames.size();
    ProgressLine progress(total, isatty(STDERR_FILENO) == 1);
    std::vector<Failure> failures;
    size_t written = 0, skipped = 0;
    // --temporal 0 keeps no window: each frame is read by its own job.
    std::optional<TemporalWindow> window;
    if (options.temporal > 0) window.emplace(options.temporal, shotFrameLoader(options));
    for (const int frame : options.frames) {
        const FrameJob job = frameJob(options, frame);
        if (options.skipExisting && outputComplete(job.output, job.writesExr())) {
            ++skipped;
            progress.frameDone(false);
            continue;
        }
        std::string reason;
        const Outcome outcome = runFrame(job, frame, window ? &*window : nullptr, progress, reason);
        if (outcome == Outcome::Written) ++written;
        if (outcome == Outcome::Failed) failures.push_back({frame, reason});
        progress.frameDone(true);
    }
    progress.makeRoom();
    reportFailures(failures);
    std::string summary = "filtering: " + std::to_string(written) + " of " + std::to_string(total) +
                          " frames written";
    if (skipped > 0) summary += ", " + std::to_string(skipped) + " skipped as already whole";
    summary += ", " + std::to_string(failures.size()) + " failed (in " +
               readableDuration(progress.elapsedSeconds()) + ")";
    std::fprintf(stderr, "%s\n", summary.c_str());
    return failures.empty() ? 0 : 1;
}

}  // namespace filtering
