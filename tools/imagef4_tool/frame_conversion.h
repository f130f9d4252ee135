#pragma once

#include <ImfCompression.h>

#include <string>

#include "frame_io/exr_frame.h"

namespace imagef4 {

/// Writes the renderer's frame under `root` (its seven layers, camera.txt and
/// settings.txt) as one multilayer OpenEXR file of float channels with the
/// common pass names (diffuse_direct, diffuse_indirect, diffuse_albedo, N, P,
/// uv, rest, and the beauty as R, G, B, A; ZIP-compressed unless asked otherwise), the camera as
/// the standard worldToCamera attribute and the settings file's text as filterSettings. Every value
/// is kept bit for bit. False, after a message, on failure.
bool convertLayersToExr(const std::string& root, const std::string& exrPath,
                        Imf::Compression compression = Imf::ZIP_COMPRESSION);

/// Writes an OpenEXR frame, read as `filtering --input` reads it (its passes
/// found, the rest made from the beauty where it has none, non-finite
/// samples repaired), as the renderer's seven layers, camera.txt and
/// settings.txt under `root`; the texture coordinates from the "uv" pass, or
/// zeros. False, after a message, on failure.
bool convertExrToLayers(const std::string& exrPath, const std::string& root,
                        const filtering::ExrReadOptions& options);

/// The beauty of an OpenEXR file as a working image (blue, green, red): its
/// R, G and B channels, or else those of its first "Combined" pass. Empty,
/// after a message, when it has neither or cannot be read.
cv::Mat readExrBeauty(const std::string& exrPath);

}  // namespace imagef4
