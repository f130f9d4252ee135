#pragma once

#include <array>
#include <opencv2/core.hpp>
#include <optional>

#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"

namespace filtering {

/// Everything the renderer saved for filtering one frame.
struct Frame {
    CameraPosition camera;
    std::array<cv::Mat, LayerCount> layers;
    FilterSettings settings;
    /// Per layer, a CV_8U mask of the pixels whose non-finite values were
    /// replaced (255), or empty when the layer had none. Positions made from
    /// a depth pass mark the background here too: neither is a measured point.
    std::array<cv::Mat, LayerCount> repaired;
    /// Per layer, what messages call it; empty for the `.imagef4` file's name.
    std::array<std::string, LayerCount> names;
    /// The glossy light (direct + indirect, before its colour) and the glossy
    /// colour, part of the rest layer, when the frame's file has them apart;
    /// otherwise empty. Both finite wherever they are given.
    cv::Mat glossyLight, glossyColor;
    /// Where each pixel's point was in the previous frame and will be in the
    /// next, when the frame's file has a motion pass: CV_32FC4 of the
    /// offsets (x, y to the previous frame; x, y to the next) in pixels,
    /// x right and y down as the rows go; otherwise empty. Finite wherever given.
    cv::Mat motion;

    const cv::Mat& operator[](Layer layer) const { return layers[layer]; }
    cv::Mat& operator[](Layer layer) { return layers[layer]; }
};

/// A normal's squared length above which the pixel shows a surface: unit
/// normals, give or take what half floats keep, or an edge pixel's mixture
/// of two; the background and the sky have none.
inline constexpr float kLeastSurfaceNormal = 0.25f;

/// Whether pixel (y, x) of `frame` shows a surface.
inline bool showsSurface(const Frame& frame, int y, int x) {
    const cv::Vec3f& n = frame[Normals].at<cv::Vec3f>(y, x);
    return n.dot(n) > kLeastSurfaceNormal;
}

/// Whether the position of pixel (y, x) was measured: not repaired, nor
/// made for the background from a depth pass.
inline bool positionMeasured(const Frame& frame, int y, int x) {
    const cv::Mat& repaired = frame.repaired[Positions];
    return repaired.empty() || repaired.at<uchar>(y, x) == 0;
}

/// Loads the camera, the seven layers in their order and the settings. The
/// texture coordinates, which nothing uses, are checked but not read: that
/// layer stays empty.
/// Stops at the first missing, malformed or empty file, or at a layer whose
/// size differs from the first one's, with a message naming the file.
/// Non-finite samples are replaced as repairNonFiniteSamples says, with a
/// warning; a light or texture-colour layer without one finite value stops
/// the load.
std::optional<Frame> loadFrame(const FramePaths& paths);

/// The steps of loadFrame around the reading of the pixels, for loaders that
/// read some layers into another form. First: the camera, then every layer
/// file's header checked in order; the size the layers share, or nothing
/// after a message naming the first bad file.
std::optional<cv::Size> checkFrameFiles(const FramePaths& paths, Frame& frame);

/// Last: reports the first layer that `read` says was not read whole (a file
/// changed since it was checked), or reads the settings and repairs the
/// non-finite samples of the layers `frame` holds. False after a message.
bool completeFrame(const FramePaths& paths, const std::array<bool, LayerCount>& read, Frame& frame);

}  // namespace filtering
