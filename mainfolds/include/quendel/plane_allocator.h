#pragma once

#include <cstddef>

namespace quendel {

/// Memory for channel planes. Large planes are aligned to the system's huge
/// pages and offered to it for them, so that sweeping an image down its
/// columns does not miss the address translation cache on every row.
void* allocatePlaneMemory(std::size_t bytes);
void releasePlaneMemory(void* memory) noexcept;

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
    void deallocate(T* memory, std::size_t) noexcept { releasePlaneMemory(memory); }

    template <typename U>
    bool operator==(const PlaneAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace quendel
