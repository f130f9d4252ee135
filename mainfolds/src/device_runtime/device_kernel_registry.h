#pragma once

#include <span>

namespace quendel::device {

/// One kernel of a device module: its device symbol name, its module and,
/// on CUDA builds, the host handle of its device entry point.
struct KernelEntry {
    const char* name;
    const char* module;
    const void* deviceSymbol;
};

/// The kernels of each device module, in registration order.
std::span<const KernelEntry> abstractFilterKernels();
std::span<const KernelEntry> matmulKernels();
std::span<const KernelEntry> textureKernels();

/// Every kernel of the library in registration order: the filter kernels,
/// then the matrix products, then minusKernel.
std::span<const KernelEntry> kernelRegistry();

/// The entry of a kernel by name, or null.
const KernelEntry* findKernel(const char* name);

}  // namespace quendel::device
