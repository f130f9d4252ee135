#pragma once

namespace quendel {

/// The runtime that carries out device work: a CUDA device, or the host
/// emulator that runs the same kernels on the CPU.
enum class DeviceRuntime { cuda, emulator };

/// True when the library was built with CUDA, a device is present and the
/// library's kernels load on it.
bool cudaDeviceAvailable();

/// The runtime device work goes to now: CUDA when available and not
/// overridden, the emulator otherwise.
DeviceRuntime activeDeviceRuntime();

/// Sends all device work to the emulator (true) or back to CUDA when it is
/// available (false). Switch only while no device buffer is held: a buffer
/// belongs to the runtime that made it.
void forceDeviceEmulator(bool force);
bool deviceEmulatorForced();

/// "cuda" or "emulator".
const char* deviceRuntimeName(DeviceRuntime runtime);

}  // namespace quendel
