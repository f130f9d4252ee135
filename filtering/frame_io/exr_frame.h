#pragma once

#include <ImfHeader.h>

#include <optional>
#include <string>

#include "frame_io/exr_passes.h"
#include "frame_io/frame.h"

namespace filtering {

/// The largest frame read: per side and in pixels.
inline constexpr int kMaxFrameSide = 1 << 16;
inline constexpr long long kMaxFramePixels = 1LL << 28;

/// What the user says about a multilayer frame beyond its file.
struct ExrReadOptions {
    PassChoice passes;
    std::optional<CameraPosition> camera;
    std::optional<float> rangeSigma, spatialSigma;
    /// Frames of more pixels than this are refused (at most kMaxFramePixels).
    long long maxPixels = kMaxFramePixels;
};

/// Where the frame's distance map comes from.
enum class DistanceSource { GivenCamera, HeaderCamera, EstimatedCamera, Depth };

/// A frame read from one OpenEXR file, with what writing its result needs.
struct ExrFrame {
    /// The seven layers as loadFrame gives them for `.imagef4` files (the
    /// texture coordinates empty), over the file's data window.
    Frame frame;
    /// The file's header, every attribute as read.
    Imf::Header header;
    /// The beauty's alpha, one channel, or empty when the file has none.
    cv::Mat alpha;
    PassLayout passes;
    DistanceSource distances = DistanceSource::GivenCamera;
};

/// The camera position that an OpenEXR header's `worldToCamera` matrix
/// holds, if it has one.
std::optional<CameraPosition> headerCamera(const Imf::Header& header);

/// Reads one multilayer OpenEXR frame (scanline or tiled, any compression,
/// half, float or unsigned channels): finds its passes (findPasses), reads
/// them over the data window, makes the rest from the beauty when the file
/// has no rest pass (beauty - texture colour x (primary + secondary)), and
/// repairs non-finite samples as loadFrame does.
///
/// The distance map takes the positions and the camera from `options`, from
/// the header's `worldToCamera`, or, with positions and depth, the camera
/// that best explains both (a pinhole camera fitted to them); failing those,
/// the depth itself stands in for the distance (then the positions layer
/// holds it as its first component and the camera is at 0). Settings: the
/// sigmas of `options`, else the file's `filterSettings` attribute (six
/// numbers as in settings.txt), else kDefaultSettings.
///
/// Nothing, after a message on standard error naming the file, when it is
/// not a readable OpenEXR file, is deep, is too large, or lacks a pass.
std::optional<ExrFrame> loadExrFrame(const std::string& path, const ExrReadOptions& options);

/// The string attribute that carries a settings file's text.
inline constexpr const char* kSettingsAttribute = "filterSettings";

}  // namespace filtering
