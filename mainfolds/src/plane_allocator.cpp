#include "quendel/plane_allocator.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quendel {

namespace {

// Transparent huge pages on x86-64 and most arm64 kernels.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Freed large blocks kept for the next allocation of the same size: filters
// make and drop planes and lists of one image size call after call, and a
// fresh block costs the system a page fault and a cleared page per 2 MiB.
constexpr std::size_t kKeptBytes = std::size_t{48} << 20;

struct KeptBlock {
    void* memory;
    std::size_t bytes;
};

class KeptBlocks {
  public:
    void* take(std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        for (std::size_t i = blocks.size(); i-- > 0;) {
            if (blocks[i].bytes == bytes) {
                void* memory = blocks[i].memory;
                blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
                total -= bytes;
                return memory;
            }
        }
        return nullptr;
    }

    // False when the block does not fit: the caller frees it.
    bool keep(void* memory, std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        if (bytes > kKeptBytes) {
            return false;
        }
        // The oldest blocks make room.
        while (total + bytes > kKeptBytes) {
            std::free(blocks.front().memory);
            total -= blocks.front().bytes;
            blocks.erase(blocks.begin());
        }
        blocks.push_back({memory, bytes});
        total += bytes;
        return true;
    }

    ~KeptBlocks() {
        for (const KeptBlock& block : blocks) {
            std::free(block.memory);
        }
    }

  private:
    std::mutex mutex;
    std::vector<KeptBlock> blocks;
    std::size_t total = 0;
};

KeptBlocks& keptBlocks() {
    // Never destroyed: planes held by other static objects may be freed
    // after this file's statics are gone.
    static KeptBlocks* blocks = new KeptBlocks();
    return *blocks;
}

void* freshLargeBlock(std::size_t bytes) {
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

}  // namespace

void* allocatePlaneMemory(std::size_t bytes) {
    if (bytes < kHugePage) {
        void* memory = std::malloc(bytes > 0 ? bytes : 1);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        return memory;
    }
    if (void* kept = keptBlocks().take(bytes)) {
        return kept;
    }
    return freshLargeBlock(bytes);
}

void releasePlaneMemory(void* memory, std::size_t bytes) noexcept {
    if (bytes < kHugePage || !keptBlocks().keep(memory, bytes)) {
        std::free(memory);
    }
}

}  // namespace quendel
