#include "quendel/plane_allocator.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "foundations/huge_page_planes.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quendel {

namespace {

// Transparent huge pages on x86-64 and most arm64 kernels.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Freed huge-page blocks kept for the next request of the same size: a
// filter makes and drops pixel lists and projections of one image size call
// after call, and a fresh block costs a page fault and a cleared page per
// 2 MiB.
constexpr std::size_t kKeptBytes = std::size_t{48} << 20;

thread_local int hugePageScopes = 0;

#if defined(__linux__)

std::size_t mappedLength(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

// A mapping of its own, aligned by trimming, offered to the system for huge
// pages; null when there is none to be had.
void* mapHugeBlock(std::size_t bytes) {
    const std::size_t length = mappedLength(bytes);
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t end = start + length + kHugePage;
    if (aligned > start) {
        munmap(mapped, aligned - start);
    }
    if (end > aligned + length) {
        munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    }
    void* memory = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    // Only advice: where the system has no huge page to give, it keeps
    // small ones.
    madvise(memory, length, MADV_HUGEPAGE);
#endif
    return memory;
}

void unmapHugeBlock(void* memory, std::size_t bytes) {
    munmap(memory, mappedLength(bytes));
}

#else

void* mapHugeBlock(std::size_t) {
    return nullptr;
}
void unmapHugeBlock(void*, std::size_t) {}

#endif

// The huge-page blocks handed out, and those freed and kept.
class HugeBlocks {
  public:
    void* take(std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t i = kept.size(); i-- > 0;) {
            if (kept[i].bytes == bytes) {
                void* memory = kept[i].memory;
                kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i));
                keptTotal -= bytes;
                live.insert(memory);
                return memory;
            }
        }
        return nullptr;
    }

    void add(void* memory) {
        std::lock_guard<std::mutex> lock(mutex);
        live.insert(memory);
    }

    // False when `memory` is not a huge-page block.
    bool release(void* memory, std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        if (live.erase(memory) == 0) {
            return false;
        }
        if (bytes > kKeptBytes) {
            unmapHugeBlock(memory, bytes);
            return true;
        }
        // The oldest kept blocks make room.
        while (keptTotal + bytes > kKeptBytes) {
            unmapHugeBlock(kept.front().memory, kept.front().bytes);
            keptTotal -= kept.front().bytes;
            kept.erase(kept.begin());
        }
        kept.push_back({memory, bytes});
        keptTotal += bytes;
        return true;
    }

  private:
    struct Block {
        void* memory;
        std::size_t bytes;
    };
    std::mutex mutex;
    std::unordered_set<void*> live;
    std::vector<Block> kept;
    std::size_t keptTotal = 0;
};

HugeBlocks& hugeBlocks() {
    // Never destroyed: planes held by other static objects may be freed
    // after this file's statics are gone.
    static HugeBlocks* blocks = new HugeBlocks();
    return *blocks;
}

void* ordinaryBlock(std::size_t bytes) {
    void* memory = std::malloc(bytes > 0 ? bytes : 1);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

}  // namespace

HugePagePlanes::HugePagePlanes() {
    ++hugePageScopes;
}
HugePagePlanes::~HugePagePlanes() {
    --hugePageScopes;
}

void* allocatePlaneMemory(std::size_t bytes) {
    if (hugePageScopes == 0 || bytes < kHugePage) {
        return ordinaryBlock(bytes);
    }
    HugeBlocks& blocks = hugeBlocks();
    if (void* kept = blocks.take(bytes)) {
        return kept;
    }
    void* memory = mapHugeBlock(bytes);
    if (memory == nullptr) {
        return ordinaryBlock(bytes);
    }
    blocks.add(memory);
    return memory;
}

void releasePlaneMemory(void* memory, std::size_t bytes) noexcept {
    if (bytes < kHugePage || !hugeBlocks().release(memory, bytes)) {
        std::free(memory);
    }
}

}  // namespace quendel
