#pragma once

#include "device_runtime/device_runtime_seam.h"

namespace quendel::device {

/// The CUDA runtime when a device is present and every registered kernel
/// loads on it; null otherwise. Decided once, on first use.
Runtime* usableCudaRuntime();

}  // namespace quendel::device
