#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

// An in-memory file with a path, so readers that take paths can be fuzzed
// without touching the disk.
class MemoryFile {
public:
    MemoryFile() : descriptor_(memfd_create("fuzz-input", 0)) {}
    ~MemoryFile() { close(descriptor_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void assign(const uint8_t* data, size_t size) {
        if (ftruncate(descriptor_, 0) != 0) return;
        size_t written = 0;
        while (written < size) {
            const ssize_t count = pwrite(descriptor_, data + written, size - written,
                                         static_cast<off_t>(written));
            if (count <= 0) return;
            written += static_cast<size_t>(count);
        }
    }
    std::string path() const { return "/proc/self/fd/" + std::to_string(descriptor_); }

private:
    int descriptor_;
};
