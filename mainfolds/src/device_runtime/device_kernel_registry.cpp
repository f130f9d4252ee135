#include "device_runtime/device_kernel_registry.h"

#include <cstring>
#include <vector>

namespace quendel::device {

std::span<const KernelEntry> kernelRegistry() {
    static const std::vector<KernelEntry> all = [] {
        std::vector<KernelEntry> entries;
        for (auto module : {abstractFilterKernels(), matmulKernels(), textureKernels()}) {
            entries.insert(entries.end(), module.begin(), module.end());
        }
        return entries;
    }();
    return all;
}

const KernelEntry* findKernel(const char* name) {
    for (const KernelEntry& entry : kernelRegistry()) {
        if (std::strcmp(entry.name, name) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace quendel::device
