#pragma once

#include <opencv2/core.hpp>

#include "frame_io/layer_files.h"
#include "quendel/texture.h"

namespace filtering {

/// What the noise-free layers say about the surfaces a frame shows.
struct SurfaceGeometry {
    cv::Mat normals;       // unit normals, three channels as loaded
    cv::Mat positions;     // world positions, three channels as loaded
    cv::Mat planeOffsets;  // normal . (position - camera): constant along a plane
    float medianDistance = 1.0f;
};

/// Plane offsets, and the median distance to the camera of every fourth position
/// (working channels z, y, x) among the `surfaces` (CV_8U, non-zero; the
/// background's positions say nothing of the scene's scale). The median is 1
/// where every point sits on the camera or none is a surface.
SurfaceGeometry surfaceGeometry(const cv::Mat& normals, const cv::Mat& positions,
                                const CameraPosition& camera, const cv::Mat& surfaces);

/// Appends every channel of a float image, times 1 / `deviation`, to a
/// planar guide as new planes.
void appendGuideChannels(quendel::CpuTexture& guide, const cv::Mat& image, float deviation);

}  // namespace filtering
