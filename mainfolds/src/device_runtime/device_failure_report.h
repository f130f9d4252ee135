#pragma once

#include "device_runtime/device_runtime_seam.h"

namespace quendel::device {

/// Checks a runtime call. On failure writes
/// "Failed at line <line> (error code <runtime's text>)!" to stderr, waits
/// for one character when stdin is an interactive terminal (never in a
/// batch run) and returns false.
bool checkDeviceCall(Status status, int line);

/// Failed calls reported by checkDeviceCall since the process started: lets
/// a caller notice a failure inside an operation that returns no status.
unsigned long long reportedDeviceFailures();

/// True when standard input is an interactive terminal.
bool standardInputIsTerminal();

}  // namespace quendel::device
