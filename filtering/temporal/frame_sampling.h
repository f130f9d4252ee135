#pragma once

#include "frame_io/frame.h"

namespace filtering {

/// Whether the frame's features are averages over each pixel's area (a
/// renderer that spreads its samples over the pixel: at every edge the
/// normals are mixtures, shorter than one) rather than taken at the pixel's
/// centre (unit normals everywhere). The two want different steadying over
/// time: anti-aliased features are themselves noisy and move by fractions of
/// a pixel, exact ones have hard edges that no blending may soften.
bool hasAntiAliasedFeatures(const Frame& frame);

}  // namespace filtering
