#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <string>

#include "quendel/texture.h"

namespace filtering {

/// Reads an `.imagef4` file (int32 width, int32 height, then width x height
/// pixels of four floats, bottom row first) into a three-channel float image
/// with rows top-down and channels reversed (file channel 2 first), alpha
/// dropped. An unreadable or malformed file gives a message naming it on
/// standard error and an empty image.
cv::Mat read_float4(const std::string& path);

/// Takes one row of a layer: its index top-down and the file's floats for
/// it (red, green, blue, alpha for each pixel).
using LayerRowReader = std::function<void(int row, const float* rgba)>;

/// Reads the pixels of an `.imagef4` file of the size `expected` a block of
/// rows at a time on OpenCV's threads and hands every row to `take` once,
/// from several threads at a time. False, with a message naming the file,
/// when it is unreadable, malformed, of another size or cut short while it
/// is read (then some rows may have been taken).
bool readLayerRows(const std::string& path, cv::Size expected, const LayerRowReader& take);

/// Checks an `.imagef4` file as read_float4 does, without reading its
/// pixels: false, with the same message, when it is unreadable or malformed;
/// otherwise its size (0 x 0 for an empty image).
bool readLayerSize(const std::string& path, cv::Size& size);

/// Writes a three- or four-channel float image as an `.imagef4` file, the
/// inverse of `read_float4` (alpha 1.0 for three channels). The file is
/// written beside its destination and renamed into place, so a failed write
/// never leaves a truncated file. False, with a message, on failure.
bool save_float4(const std::string& path, const cv::Mat& image);

struct CameraPosition {
    float x = 0.0f, y = 0.0f, z = 0.0f;
};

/// Reads "x y z"; numbers missing from the file stay 0. False, with a
/// message, when the file cannot be opened.
bool readCamera(const std::string& path, CameraPosition& camera);

struct FilterSettings {
    float rangeSigma = 0.0f;    // number 5 of the file
    float spatialSigma = 0.0f;  // number 6 of the file
};

/// Writes "x y z" as readCamera reads it, every float exactly. False, with
/// a message, when the file cannot be written.
bool writeCamera(const std::string& path, const CameraPosition& camera);

/// What a frame without a settings file is filtered with.
inline constexpr FilterSettings kDefaultSettings{2.0f, 10.0f};

/// Reads six numbers and keeps the fifth and sixth. False, with a message,
/// when the file cannot be opened or holds fewer than six numbers.
bool readSettings(const std::string& path, FilterSettings& settings);

/// Writes six numbers, the fifth and sixth the sigmas and the rest 0, as
/// readSettings reads them. False, with a message, on failure.
bool writeSettings(const std::string& path, const FilterSettings& settings);

/// The same for the text of a settings file; false, changing nothing, when
/// it holds fewer than six numbers.
bool parseSettings(const std::string& text, FilterSettings& settings);

/// A private planar copy of an interleaved float image.
quendel::CpuTexture toTexture(const cv::Mat& image);

/// A plane of `values` floats whose contents are unspecified until written.
quendel::CpuTexture::PlaneHandle newPlane(size_t values);

/// A texture of `size` with `channels` new planes (see newPlane).
quendel::CpuTexture newTexture(cv::Size size, unsigned channels);

}  // namespace filtering
