#include "device_runtime/device_emulator.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>

#include "foundations/team_for_work.h"

namespace quendel::device {

namespace {
// Fresh buffers hold NaNs (all bits set), so reading a buffer that was never
// written or cleared shows in the results instead of passing by chance.
constexpr int kFreshBufferByte = 0xFF;
}  // namespace

Emulator& emulator() {
    static Emulator instance;
    return instance;
}

bool Emulator::takeInjectedFailure(Status& status) {
    if (failuresLeft == 0) {
        return false;
    }
    if (callsBeforeFailure > 0) {
        --callsBeforeFailure;
        return false;
    }
    --failuresLeft;
    status = Status{injectedError};
    return true;
}

bool Emulator::holdsRange(const void* address, std::size_t bytes) const {
    const auto start = reinterpret_cast<std::uintptr_t>(address);
    auto next = buffers.upper_bound(start);
    if (next == buffers.begin()) {
        return false;
    }
    const auto& [base, size] = *std::prev(next);
    return start - base <= size && bytes <= size - (start - base);
}

Status Emulator::allocate(void** buffer, std::size_t bytes) {
    std::lock_guard lock(mutex);
    ++calls.allocations;
    Status status;
    if (takeInjectedFailure(status)) {
        return status;
    }
    if (bytes == 0) {
        *buffer = nullptr;
        return {};
    }
    void* memory = std::malloc(bytes);
    if (memory == nullptr) {
        return Status{outOfMemory};
    }
    std::memset(memory, kFreshBufferByte, bytes);
    buffers.emplace(reinterpret_cast<std::uintptr_t>(memory), bytes);
    *buffer = memory;
    return {};
}

Status Emulator::free(void* buffer) {
    std::lock_guard lock(mutex);
    ++calls.frees;
    if (buffer == nullptr) {
        return {};
    }
    auto found = buffers.find(reinterpret_cast<std::uintptr_t>(buffer));
    if (found == buffers.end()) {
        return Status{invalidDevicePointer};
    }
    buffers.erase(found);
    std::free(buffer);
    return {};
}

std::optional<Status> Emulator::settleTransfer(long& counter, const void* device, std::size_t bytes,
                                               bool hostPresent) {
    ++counter;
    Status status;
    if (takeInjectedFailure(status)) {
        return status;
    }
    if (bytes == 0) {
        return Status{};
    }
    if (!holdsRange(device, bytes) || !hostPresent) {
        return Status{invalidValue};
    }
    return std::nullopt;
}

Status Emulator::fill(void* buffer, int byteValue, std::size_t bytes) {
    std::lock_guard lock(mutex);
    if (const std::optional<Status> settled = settleTransfer(calls.fills, buffer, bytes, true)) {
        return *settled;
    }
    std::memset(buffer, byteValue, bytes);
    return {};
}

Status Emulator::copyToDevice(void* device, const void* host, std::size_t bytes) {
    std::lock_guard lock(mutex);
    if (const std::optional<Status> settled =
            settleTransfer(calls.copiesToDevice, device, bytes, host != nullptr)) {
        return *settled;
    }
    std::memcpy(device, host, bytes);
    return {};
}

Status Emulator::copyToHost(void* host, const void* device, std::size_t bytes) {
    std::lock_guard lock(mutex);
    if (const std::optional<Status> settled =
            settleTransfer(calls.copiesToHost, device, bytes, host != nullptr)) {
        return *settled;
    }
    std::memcpy(host, device, bytes);
    return {};
}

const char* Emulator::describe(Status status) const {
    switch (status.code) {
        case 0:
            return "no error";
        case invalidValue:
            return "invalid argument";
        case outOfMemory:
            return "out of memory";
        case invalidDevicePointer:
            return "invalid device pointer";
        case launchFailure:
            return "kernel launch failed";
        default:
            return "unrecognized error code";
    }
}

void Emulator::failNextCalls(int count, Error error, int after) {
    std::lock_guard lock(mutex);
    failuresLeft = count < 0 ? 0 : count;
    callsBeforeFailure = after < 0 ? 0 : after;
    injectedError = error;
}

Emulator::Counters Emulator::counters() const {
    std::lock_guard lock(mutex);
    return calls;
}

void Emulator::resetCounters() {
    std::lock_guard lock(mutex);
    calls = Counters{};
}

std::size_t Emulator::liveBuffers() const {
    std::lock_guard lock(mutex);
    return buffers.size();
}

std::size_t Emulator::liveBytes() const {
    std::lock_guard lock(mutex);
    std::size_t total = 0;
    for (const auto& [base, size] : buffers) {
        total += size;
    }
    return total;
}

void Emulator::runGrid(const LaunchShape& shape, BlockRunner runBlock, const void* kernel) {
    {
        std::lock_guard lock(mutex);
        ++calls.launches;
    }
    const LaunchShape s = shape;
    if (s.grid.x <= 0 || s.grid.y <= 0 || s.block.x <= 0 || s.block.y <= 0) {
        return;  // a device rejects such a launch and runs nothing
    }
    const long blocks = static_cast<long>(s.grid.x) * s.grid.y;
#pragma omp parallel for num_threads(quendel::workerCount()) schedule(static)
    for (long b = 0; b < blocks; ++b) {
        runBlock(kernel, static_cast<int>(b % s.grid.x), static_cast<int>(b / s.grid.x), s.block);
    }
}

}  // namespace quendel::device
