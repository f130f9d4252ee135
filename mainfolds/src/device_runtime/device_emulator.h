#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "device_runtime/device_launch_shape.h"
#include "device_runtime/device_runtime_seam.h"

namespace quendel::device {

/// Runs device work on the host: buffers are host memory, kernels run one
/// call per (block, thread) with blocks spread over the library's team of
/// threads. No kernel shares memory between threads of a block, so the
/// results are those of a device that rounds the same way.
///
/// For tests it counts its calls, knows its live buffers and can be told
/// to fail its next calls.
class Emulator final : public Runtime {
  public:
    /// Error codes of the emulator, with the texts describe() gives them.
    enum Error : int {
        invalidValue = 1,
        outOfMemory = 2,
        invalidDevicePointer = 17,
        launchFailure = 719,
    };

    struct Counters {
        long allocations = 0;
        long frees = 0;
        long fills = 0;
        long copiesToDevice = 0;
        long copiesToHost = 0;
        long launches = 0;

        long total() const {
            return allocations + frees + fills + copiesToDevice + copiesToHost + launches;
        }
    };

    DeviceRuntime kind() const override { return DeviceRuntime::emulator; }
    Status allocate(void** buffer, std::size_t bytes) override;
    Status free(void* buffer) override;
    Status fill(void* buffer, int byteValue, std::size_t bytes) override;
    Status copyToDevice(void* device, const void* host, std::size_t bytes) override;
    Status copyToHost(void* host, const void* device, std::size_t bytes) override;
    const char* describe(Status status) const override;

    /// After `after` more allocations, fills or copies, the next `count`
    /// of them fail with `error` and do nothing else. Frees and launches
    /// are never failed. A new request replaces the previous one.
    void failNextCalls(int count, Error error, int after = 0);

    Counters counters() const;
    void resetCounters();
    std::size_t liveBuffers() const;
    std::size_t liveBytes() const;

    /// Calls `runBlock` once per block of the grid, blocks in parallel.
    using BlockRunner = void (*)(const void* kernel, int blockX, int blockY, const Extent& block);
    void runGrid(const LaunchShape& shape, BlockRunner runBlock, const void* kernel);

  private:
    bool takeInjectedFailure(Status& status);
    // What a fill or copy settles before touching memory: the call is counted
    // and may fail as injected; an empty one succeeds at once; a range that
    // is not inside one buffer, or a missing host side, is refused. Nothing
    // when the transfer is to go ahead.
    std::optional<Status> settleTransfer(long& counter, const void* device, std::size_t bytes,
                                         bool hostPresent);
    /// True when [address, address + bytes) lies inside one live buffer.
    bool holdsRange(const void* address, std::size_t bytes) const;

    mutable std::mutex mutex;
    std::map<std::uintptr_t, std::size_t> buffers;  // start -> size in bytes
    Counters calls;
    int callsBeforeFailure = 0;
    int failuresLeft = 0;
    Error injectedError = invalidValue;
};

/// The one emulator of the process.
Emulator& emulator();

}  // namespace quendel::device
