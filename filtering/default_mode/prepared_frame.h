#pragma once

#include <optional>

#include "default_mode/pipeline.h"
#include "frame_io/frame.h"
#include "frame_io/frame_paths.h"

namespace filtering {

/// A frame loaded for the default pipeline: the layers the recombination
/// uses (primary light, texture colour, rest) as images, and the filter's
/// inputs, made as the other layers are read.
struct PreparedFrame {
    Frame frame;
    FilterInputs inputs;
};

/// What loadFrame and filterInputs give together, bit for bit, with the same
/// messages, but without holding the secondary light, the normals and the
/// positions as images: they are read straight into the planes and the
/// distance map the filter takes. A frame with non-finite samples in one of
/// those three layers is loaded the long way, so that they are repaired
/// where they are.
std::optional<PreparedFrame> loadPreparedFrame(const FramePaths& paths);

/// The default pipeline on a prepared frame: denoise(Frame) without making
/// the inputs.
DenoisedFrame denoise(PreparedFrame prepared);

}  // namespace filtering
