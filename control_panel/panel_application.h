#pragma once

#include <functional>

#include "boundary/segment_names.h"

namespace quendel {

class TelvoGui;

// Runs the control panel: Fusion style, one window, its event loop. SIGINT and SIGTERM end it
// through the Exit action. The window is destroyed before this returns the loop's status.
// `beforeLoop` sees the shown window just before the loop starts.
int runControlPanel(int& argc, char** argv, const SegmentNames& segments = SegmentNames{},
                    const std::function<void(TelvoGui&)>& beforeLoop = {});

}  // namespace quendel
