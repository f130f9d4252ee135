#pragma once

#include <cmath>
#include <opencv2/core.hpp>

#include "frame_io/frame.h"
#include "quendel/matrix.h"
#include "quendel/texture.h"

namespace filtering {

/// Both filter sigmas are held to [0.00001, 10]; not-a-number counts as low.
float clampSigma(float value);

/// Distance of every position (working channels z, y, x) to the camera,
/// rescaled so that the nearest point is 0 and the farthest 1. When every
/// point is equally far the map is 0 everywhere. One channel. Pixels set in
/// the CV_8U mask `untrusted` (repaired positions) take no part in finding
/// the nearest and farthest point, and their values are held to [0, 1].
cv::Mat normalizedDistances(const cv::Mat& positions, const CameraPosition& camera,
                            const cv::Mat& untrusted = cv::Mat());

/// As above, into `distances`, a continuous single-channel float image of
/// the positions' size.
void normalizedDistancesInto(const cv::Mat& positions, const CameraPosition& camera,
                             const cv::Mat& untrusted, cv::Mat& distances);

/// The distance of one position (working channels z, y, x) to the camera,
/// as the distance map takes it.
inline float distanceToCamera(float z, float y, float x, const CameraPosition& camera) {
    const float dz = z - camera.z;
    const float dy = y - camera.y;
    const float dx = x - camera.x;
    const float qz = dz * dz, qy = dy * dy, qx = dx * dx;
    return std::sqrt((qy + qz) + qx);
}

/// The last step of the distance map: every distance rescaled in place so
/// that `nearest` becomes 0 and `farthest` 1 (all 0 when they do not
/// differ), the untrusted pixels held to [0, 1].
void rescaleDistances(cv::Mat& distances, float nearest, float farthest, const cv::Mat& untrusted);

/// A normal component from [-1, 1] to [0, 1].
inline float remappedNormal(float value) {
    return (value + 1.0f) * 0.5f;
}

/// Normals from [-1, 1] to [0, 1], in place, in every plane.
void remapNormals(quendel::CpuTexture& normals);

/// The secondary light after filtering, with the matrix that owns its pixels.
class FilteredLight {
  public:
    explicit FilteredLight(quendel::CpuMatrix pixels, int rows, int cols)
        : matrix(std::move(pixels)), rows(rows), cols(cols) {}
    /// A three-channel view of the pixels; valid while this object lives.
    cv::Mat view() const;

  private:
    quendel::CpuMatrix matrix;
    int rows, cols;
};

/// Everything the filter reads, derived from a loaded frame, in the planar
/// form the filter takes: private planes of the secondary light, the
/// remapped normals, the distance map and the texture colour.
struct FilterInputs {
    quendel::CpuTexture secondary, normals, distances, texColor;
    float sigmaS = 0, sigmaR = 0;
};

/// Planar copies of the light and the texture colour, remapped normals,
/// distance map and clamped sigmas of a loaded frame; the frame is left as
/// it is.
FilterInputs filterInputs(const Frame& frame);

/// Builds the guide and filters the secondary light under it: the work the
/// program times. `ticks` receives its duration in cv::getTickCount units.
/// The guide takes over the planes of `inputs` that nothing else shares.
FilteredLight filterSecondary(FilterInputs inputs, int64_t& ticks);

/// rest + texColor * (primary + filtered), channel by channel.
cv::Mat recombine(const cv::Mat& primary, const cv::Mat& filtered, const cv::Mat& texColor,
                  const cv::Mat& rest);

struct DenoisedFrame {
    cv::Mat image;
    double seconds = 0;  // guide building and filtering only
};

/// The whole pipeline on a loaded frame whose layers share one size.
/// Takes the frame by value: the layers the filter no longer needs once its
/// planar inputs are made (the secondary light, positions, normals, texture
/// coordinates) are let go before the guide is built, which lowers the peak
/// when the caller moves its frame in.
DenoisedFrame denoise(Frame frame);

}  // namespace filtering
