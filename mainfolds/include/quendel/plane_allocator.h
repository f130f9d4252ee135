#pragma once

#include <cstddef>

namespace quendel {

/// Memory for channel planes. Large planes are aligned to the system's huge
/// pages and offered to it for them, so that sweeping an image down its
/// columns does not miss the address translation cache on every row. A few
/// freed large blocks (48 MiB at most) are kept for the next request of the
/// same size, as filters ask for the same sizes call after call.
void* allocatePlaneMemory(std::size_t bytes);
/// `bytes` must be the size the block was asked for.
void releasePlaneMemory(void* memory, std::size_t bytes) noexcept;

/// The allocator of every host plane.
template <typename T>
struct PlaneAllocator {
    using value_type = T;

    PlaneAllocator() = default;
    template <typename U>
    PlaneAllocator(const PlaneAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        return static_cast<T*>(allocatePlaneMemory(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t count) noexcept {
        releasePlaneMemory(memory, count * sizeof(T));
    }

    template <typename U>
    bool operator==(const PlaneAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace quendel
