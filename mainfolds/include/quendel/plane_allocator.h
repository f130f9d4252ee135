#pragma once

#include <cstddef>
#include <iterator>
#include <new>
#include <utility>

namespace quendel {

/// Memory for channel planes: blocks of 2 MiB and more are mapped on their
/// own, aligned to huge pages and offered them, and go back to the system
/// when released (a filter may keep a few of its own for reuse: see the
/// library's internals); smaller ones are ordinary heap blocks. Releasing
/// tells the kinds apart.
void* allocatePlaneMemory(std::size_t bytes);
/// `bytes` must be the size the block was asked for.
void releasePlaneMemory(void* memory, std::size_t bytes) noexcept;

/// An element made from this keeps whatever its memory held: the allocator
/// writes nothing, so a plane that is written in full at once is not filled
/// first.
struct UnsetValue {};

/// A run of `UnsetValue`s for a plane's range constructor or `assign`:
/// `Plane(UnsetValues{}, UnsetValues(count))` holds `count` unset values.
class UnsetValues {
  public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = UnsetValue;
    using difference_type = std::ptrdiff_t;
    using pointer = const UnsetValue*;
    using reference = UnsetValue;

    UnsetValues() = default;
    explicit UnsetValues(std::size_t position) : at(static_cast<difference_type>(position)) {}

    UnsetValue operator*() const { return {}; }
    UnsetValue operator[](difference_type) const { return {}; }
    UnsetValues& operator++() { return *this += 1; }
    UnsetValues operator++(int) { return std::exchange(*this, *this + 1); }
    UnsetValues& operator--() { return *this -= 1; }
    UnsetValues operator--(int) { return std::exchange(*this, *this - 1); }
    UnsetValues& operator+=(difference_type n) {
        at += n;
        return *this;
    }
    UnsetValues& operator-=(difference_type n) { return *this += -n; }
    friend UnsetValues operator+(UnsetValues i, difference_type n) { return i += n; }
    friend UnsetValues operator+(difference_type n, UnsetValues i) { return i += n; }
    friend UnsetValues operator-(UnsetValues i, difference_type n) { return i -= n; }
    friend difference_type operator-(UnsetValues a, UnsetValues b) { return a.at - b.at; }
    friend bool operator==(UnsetValues a, UnsetValues b) { return a.at == b.at; }
    friend bool operator!=(UnsetValues a, UnsetValues b) { return a.at != b.at; }
    friend bool operator<(UnsetValues a, UnsetValues b) { return a.at < b.at; }
    friend bool operator>(UnsetValues a, UnsetValues b) { return a.at > b.at; }
    friend bool operator<=(UnsetValues a, UnsetValues b) { return a.at <= b.at; }
    friend bool operator>=(UnsetValues a, UnsetValues b) { return a.at >= b.at; }

  private:
    difference_type at = 0;
};

/// The allocator of every host plane. Elements are made as by the standard
/// allocator (a plane of `count` elements holds zeros), except from an
/// `UnsetValue`.
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

    template <typename U, typename... Args>
    void construct(U* element, Args&&... args) noexcept(noexcept(U(std::forward<Args>(args)...))) {
        ::new (static_cast<void*>(element)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    void construct(U*, UnsetValue) noexcept {}

    template <typename U>
    bool operator==(const PlaneAllocator<U>&) const noexcept {
        return true;
    }
    // Clients before C++20 get no != from ==.
    template <typename U>
    bool operator!=(const PlaneAllocator<U>&) const noexcept {
        return false;
    }
};

}  // namespace quendel
