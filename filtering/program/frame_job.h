#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "frame_io/exr_frame.h"
#include "frame_io/exr_output.h"
#include "program/program_options.h"
#include "temporal/temporal_window.h"

namespace filtering {

/// One frame's work: where it comes from, where it goes, how it is denoised.
struct FrameJob {
    std::string root;    // folder holding "filter/" when `input` is empty
    std::string input;   // an OpenEXR frame
    std::string output;  // never empty
    std::string preview;
    bool quality = false;
    ExrReadOptions exr;
    ExrWriteOptions written;

    /// Whether the result is written as OpenEXR: an OpenEXR frame's unless
    /// the output ends in .imagef4, the layers' only when it ends in .exr.
    bool writesExr() const;
};

/// The job of the options' one frame, or of `frame` of their shot (every
/// run of '#' replaced by its number); the default output when none is given.
FrameJob frameJob(const ProgramOptions& options, std::optional<int> frame = std::nullopt);

/// Told how long the denoising took, before the result is written.
using DenoisedNote = std::function<void(double seconds)>;

/// Prints "Spent S seconds" on standard output, as a one-frame run does.
void printSpent(double seconds);

/// Denoises one frame and writes its output and preview. Checks first that
/// they can be written; every problem is reported on std::cerr, and false
/// is returned then, with nothing written.
bool denoiseOneFrame(const FrameJob& job, const DenoisedNote& denoised = printSpent);

/// A frame of a shot as the window holds it, with the frames around it.
struct TemporalFrames {
    const WindowFrame& centre;
    std::vector<const WindowFrame*> neighbours;
};

/// As denoiseOneFrame, for a frame already loaded, with its neighbours:
/// frames whose features are anti-aliased have their results blended with
/// their neighbours' (blendOverTime), others have the light of their
/// neighbours averaged in before they are denoised (accumulateOverTime).
bool denoiseWithNeighbours(const FrameJob& job, const TemporalFrames& frames,
                           const DenoisedNote& denoised = printSpent);

/// Reads frame `frame` of the options' shot when its input exists, and
/// denoises it as the options say when its features are anti-aliased; nothing, silently, when it
/// does not exist, or after a message when it cannot be read.
FrameLoader shotFrameLoader(const ProgramOptions& options);

}  // namespace filtering
