#pragma once

#include "device_runtime_seam.h"

namespace quendel::device {

/// Checks a runtime call. On failure writes
/// "Failed at line <line> (error code <runtime's text>)!" to stderr, waits
/// for one character when stdin is an interactive terminal (never in a
/// batch run) and returns false.
bool checkDeviceCall(Status status, int line);

/// True when standard input is an interactive terminal.
bool standardInputIsTerminal();

}  // namespace quendel::device
