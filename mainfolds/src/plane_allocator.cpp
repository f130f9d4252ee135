#include "quendel/plane_allocator.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quendel {

namespace {

// Transparent huge pages on x86-64 and most arm64 kernels.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* allocatePlaneMemory(std::size_t bytes) {
    if (bytes < kHugePage) {
        void* memory = std::malloc(bytes > 0 ? bytes : 1);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        return memory;
    }
    void* memory = nullptr;
    if (posix_memalign(&memory, kHugePage, bytes) != 0) {
        throw std::bad_alloc();
    }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only advice: where the system has no huge page to give, it keeps
    // small ones.
    madvise(memory, bytes / kHugePage * kHugePage, MADV_HUGEPAGE);
#endif
    return memory;
}

void releasePlaneMemory(void* memory) noexcept {
    std::free(memory);
}

}  // namespace quendel
