#include "device_runtime/device_buffer.h"

#include "device_runtime/device_failure_report.h"
#include "device_runtime/device_runtime_seam.h"

namespace quendel::device {

void releaseBuffer(float*& buffer) {
    if (buffer != nullptr) {
        activeRuntime().free(buffer);
        buffer = nullptr;
    }
}

bool reallocateBuffer(float*& buffer, std::size_t count, int line) {
    releaseBuffer(buffer);
    void* allocated = nullptr;
    const bool ok =
        checkDeviceCall(activeRuntime().allocate(&allocated, count * sizeof(float)), line);
    buffer = static_cast<float*>(allocated);
    return ok;
}

bool clearBuffer(float* buffer, std::size_t count, int line) {
    if (buffer == nullptr) {
        return false;
    }
    return checkDeviceCall(activeRuntime().fill(buffer, 0, count * sizeof(float)), line);
}

bool uploadToBuffer(float* buffer, const float* values, std::size_t count, int line) {
    if (buffer == nullptr) {
        return false;
    }
    return checkDeviceCall(activeRuntime().copyToDevice(buffer, values, count * sizeof(float)),
                           line);
}

bool downloadFromBuffer(float* values, const float* buffer, std::size_t count, int line) {
    if (buffer == nullptr) {
        return false;
    }
    return checkDeviceCall(activeRuntime().copyToHost(values, buffer, count * sizeof(float)), line);
}

}  // namespace quendel::device
