#pragma once

#include <string>

#include "frame_renderer.h"

namespace sample_frame {

/// The two filter settings written beside the layers.
struct SampleSettings {
    float rangeSigma = 2.0f;
    float spatialSigma = 10.0f;
};

/// Writes the layers as the renderer saves them under `root`:
/// filter/input_bin/layer_0_*.imagef4, filter/camera.txt,
/// filter/settings.txt, and the combined frame as filter/noisy.imagef4.
/// False, with a message, when a file cannot be written.
bool writeFrame(const std::string& root, const FrameLayers& layers, const Vector3& camera,
                const SampleSettings& settings);

/// Writes a width x height image as an `.imagef4` file.
bool writeImage(const std::string& path, const Image& image, int width, int height);

/// Where writeFrame puts the combined frame and the sample maker the reference.
std::string noisyFramePath(const std::string& root);
std::string referenceFramePath(const std::string& root);

}  // namespace sample_frame
