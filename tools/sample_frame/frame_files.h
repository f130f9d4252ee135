#pragma once

#include <string>

#include "frame_io/layer_files.h"
#include "frame_renderer.h"

namespace sample_frame {

/// The filter settings written beside the layers unless asked otherwise.
inline constexpr filtering::FilterSettings kSampleSettings = filtering::kDefaultSettings;

/// Writes the layers as the renderer saves them under `root`:
/// filter/input_bin/layer_0_*.imagef4, filter/camera.txt,
/// filter/settings.txt, and the combined frame as filter/noisy.imagef4.
/// False, with a message, when a file cannot be written.
bool writeFrame(const std::string& root, const FrameLayers& layers, const Vector3& camera,
                const filtering::FilterSettings& settings);

/// Writes a width x height image as an `.imagef4` file.
bool writeImage(const std::string& path, const Image& image, int width, int height);

/// The root of frame `frame` of a shot under `root`: ROOT/f0001 and so on,
/// the number zero-padded to four digits.
std::string shotFrameRoot(const std::string& root, int frame);

/// Where writeFrame puts the combined frame and the sample maker the reference.
std::string noisyFramePath(const std::string& root);
std::string referenceFramePath(const std::string& root);

}  // namespace sample_frame
