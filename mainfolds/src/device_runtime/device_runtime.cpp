#include "quendel/device_runtime.h"

#include <atomic>

#include "device_runtime/device_emulator.h"
#include "device_runtime/device_runtime_seam.h"

#if QUENDEL_HAVE_CUDA
#include "device_runtime/device_cuda_runtime.h"
#endif

namespace quendel {

namespace {
std::atomic<bool> emulatorForced{false};

device::Runtime* cudaRuntimeIfUsable() {
#if QUENDEL_HAVE_CUDA
    return device::usableCudaRuntime();
#else
    return nullptr;
#endif
}
}  // namespace

bool cudaDeviceAvailable() {
    return cudaRuntimeIfUsable() != nullptr;
}

DeviceRuntime activeDeviceRuntime() {
    return device::activeRuntime().kind();
}

void forceDeviceEmulator(bool force) {
    emulatorForced.store(force);
}

bool deviceEmulatorForced() {
    return emulatorForced.load();
}

const char* deviceRuntimeName(DeviceRuntime runtime) {
    return runtime == DeviceRuntime::cuda ? "cuda" : "emulator";
}

namespace device {

Runtime& activeRuntime() {
    if (!emulatorForced.load()) {
        if (Runtime* cuda = cudaRuntimeIfUsable()) {
            return *cuda;
        }
    }
    return emulator();
}

bool launchesOnCuda() {
    return activeRuntime().kind() == DeviceRuntime::cuda;
}

}  // namespace device
}  // namespace quendel
