#pragma once

#include <opencv2/core.hpp>

namespace filtering {

/// A renderer that spreads each pixel's samples over its area writes, at
/// the edges of surfaces, pixels that mix two surfaces (or a surface and
/// the background) in the share of samples that fell on each: normals
/// shorter than one, and a share that, drawn anew for every pixel from a
/// few samples, makes edges ragged. Along a smooth edge the true shares
/// change slowly, so at those pixels `image` is averaged with the two
/// places one pixel along the edge on either side, each weighted by how
/// well its display value agrees with the pixel's own, in units of the
/// raggedness the frame's edges show: frames of many samples per pixel
/// are left nearly as they are. Pixels with unit normals and those
/// without a surface (normals shorter than a half) are left bit for bit,
/// and so are corners, where the edge has no one direction.
/// `image` and `normals` are CV_32FC3 of one size; returns a new image.
cv::Mat smoothAntiAliasedEdges(const cv::Mat& image, const cv::Mat& normals);

}  // namespace filtering
