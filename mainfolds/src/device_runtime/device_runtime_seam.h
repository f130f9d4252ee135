#pragma once

#include <cstddef>

#include "quendel/device_runtime.h"

namespace quendel::device {

/// Result of a runtime call: 0 is success, any other value is an error code
/// of the runtime that returned it.
struct Status {
    int code = 0;
    bool ok() const { return code == 0; }
};

/// Memory operations of a device runtime. Buffers are device addresses of
/// the runtime that made them; calls go to the default stream, and copies
/// return only when done, after every kernel launched before them.
class Runtime {
  public:
    virtual ~Runtime() = default;
    virtual DeviceRuntime kind() const = 0;
    /// A zero-byte request succeeds with a null buffer.
    virtual Status allocate(void** buffer, std::size_t bytes) = 0;
    virtual Status free(void* buffer) = 0;
    virtual Status fill(void* buffer, int byteValue, std::size_t bytes) = 0;
    virtual Status copyToDevice(void* device, const void* host, std::size_t bytes) = 0;
    virtual Status copyToHost(void* host, const void* device, std::size_t bytes) = 0;
    /// The runtime's description of a status it returned.
    virtual const char* describe(Status status) const = 0;
};

/// The runtime device work goes to now.
Runtime& activeRuntime();

/// True when kernel launches go to a CUDA device.
bool launchesOnCuda();

}  // namespace quendel::device
