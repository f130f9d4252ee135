#include "quendel/plane_allocator.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "foundations/huge_page_planes.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quendel {

namespace {

// Transparent huge pages on x86-64 and most arm64 kernels.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kPage = std::size_t{4} << 10;

// Blocks of 2 MiB and more are mapped on their own and offered huge pages:
// fresh, they fault in several times faster than the heap's small pages
// (and the heap's large blocks are fresh mappings as well), and sweeps down
// their columns, which touch a new 4 KiB page every row, miss the address
// translation cache far less.
//
// Freed blocks of a huge-page scope are kept for the next request of the
// same size: a filter makes and drops pixel lists and projections of one
// image size call after call.
constexpr std::size_t kKeptBytes = std::size_t{48} << 20;

thread_local int hugePageScopes = 0;

#if defined(__linux__)

// Whole small pages: a block's partial last huge page stays in small
// pages rather than holding a whole huge page resident.
std::size_t mappedLength(std::size_t bytes) {
    return (bytes + kPage - 1) / kPage * kPage;
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
    void* take(std::size_t bytes, bool keepable) {
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t i = kept.size(); i-- > 0;) {
            if (kept[i].bytes == bytes) {
                void* memory = kept[i].memory;
                kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i));
                keptTotal -= bytes;
                live.emplace(memory, keepable);
                return memory;
            }
        }
        return nullptr;
    }

    // A keepable block may be kept when freed; the others go back to the
    // system at once, as the C library's own large blocks do, so that no
    // peak outside a huge-page scope grows.
    void add(void* memory, bool keepable) {
        std::lock_guard<std::mutex> lock(mutex);
        live.emplace(memory, keepable);
    }

    // False when `memory` is not a huge-page block.
    bool release(void* memory, std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto block = live.find(memory);
        if (block == live.end()) {
            return false;
        }
        const bool keepable = block->second;
        live.erase(block);
        if (!keepable || bytes > kKeptBytes) {
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
    std::unordered_map<void*, bool> live;
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
    if (bytes < kHugePage) {
        return ordinaryBlock(bytes);
    }
    HugeBlocks& blocks = hugeBlocks();
    const bool keepable = hugePageScopes > 0;
    if (void* kept = blocks.take(bytes, keepable)) {
        return kept;
    }
    void* memory = mapHugeBlock(bytes);
    if (memory == nullptr) {
        return ordinaryBlock(bytes);
    }
    blocks.add(memory, keepable);
    return memory;
}

void releasePlaneMemory(void* memory, std::size_t bytes) noexcept {
    if (bytes < kHugePage || !hugeBlocks().release(memory, bytes)) {
        std::free(memory);
    }
}

}  // namespace quendel
