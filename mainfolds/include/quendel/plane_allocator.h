#pragma once

#include <cstddef>

namespace quendel {

/// Memory for channel planes: ordinary heap blocks, except that a filter
/// may have its large work planes mapped on huge pages (see the library's
/// internals); releasing tells the two apart.
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
