#pragma once

#include <ostream>

#include "frame_io/frame.h"

namespace filtering {

/// Finds the NaN and infinite values of every layer the pipeline uses (of
/// those the frame holds: an empty layer is passed over) and
/// replaces them by what their neighbours hold (see replaceNonFinite): a
/// bad sample is a lost sample, and its neighbours are the best estimate of
/// what it would have been. Writes one line to `messages` for each layer
/// that held any, and records the pixels it replaced in `frame.repaired`.
/// A layer without a single finite value is reported too: normals and
/// positions only steer the guide, which then goes without them; without
/// the light layers or the texture colour there is no frame to make, and
/// the result is false.
bool repairNonFiniteSamples(Frame& frame, std::ostream& messages);

}  // namespace filtering
