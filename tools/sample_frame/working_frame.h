#pragma once

#include <opencv2/core.hpp>

#include "frame_io/frame.h"
#include "frame_renderer.h"

namespace sample_frame {

/// The image as the filter holds a loaded layer: float, rows top-down,
/// channels reversed (blue first).
cv::Mat toWorkingImage(const Image& image, int width, int height);

/// The rendered layers as the filter would load them from their files.
filtering::Frame toFrame(const FrameLayers& layers, const Vector3& camera,
                         const filtering::FilterSettings& settings);

}  // namespace sample_frame
