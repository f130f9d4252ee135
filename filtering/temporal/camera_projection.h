#pragma once

#include <opencv2/core.hpp>
#include <optional>

#include "frame_io/frame.h"

namespace filtering {

/// The pinhole projection that takes a frame's world positions to its pixel
/// coordinates (x, y as image indices: a pixel's centre is whole), fitted
/// to the frame's own positions. Lets a point found near a pixel of another
/// frame be placed there to a fraction of a pixel.
class CameraProjection {
  public:
    /// Fitted to the surface pixels of `frame` (a normal, a measured
    /// position), leaving out those the first fit places over a pixel away
    /// (moving objects, positions averaged across an edge). Nothing when the
    /// positions do not determine a projection (too few, all in one plane)
    /// or when it does not explain them to within half a pixel (another
    /// kind of camera).
    static std::optional<CameraProjection> fit(const Frame& frame);

    /// Where `position` (working order z, y, x, as the frame's positions)
    /// appears; nothing behind the camera.
    std::optional<cv::Point2f> project(const cv::Vec3f& position) const;

  private:
    explicit CameraProjection(const cv::Matx34d& matrix) : matrix_(matrix) {}
    cv::Matx34d matrix_;
};

/// The pixel nearest to a place (x, y) of a landing map, when the place is in
/// a picture of `size` (not for NaN).
std::optional<cv::Point> nearestPixel(const cv::Vec2f& at, cv::Size size);

/// Where `neighbour`'s camera, when a projection fits its positions, sees
/// the point of each pixel of `frame` (CV_32FC2 of x, y; NaN where it is
/// behind that camera); empty when none fits.
cv::Mat landingPlaces(const Frame& frame, const Frame& neighbour);

}  // namespace filtering
