// The CUDA implementation of the device runtime seam.

#include <cuda_runtime.h>

#include "device_runtime/device_cuda_runtime.h"
#include "device_runtime/device_kernel_registry.h"

namespace quendel::device {

namespace {

Status statusOf(cudaError_t error) {
    return Status{static_cast<int>(error)};
}

class CudaRuntime final : public Runtime {
  public:
    DeviceRuntime kind() const override { return DeviceRuntime::cuda; }

    Status allocate(void** buffer, std::size_t bytes) override {
        if (bytes == 0) {
            *buffer = nullptr;
            return {};
        }
        return statusOf(cudaMalloc(buffer, bytes));
    }
    Status free(void* buffer) override { return statusOf(cudaFree(buffer)); }
    Status fill(void* buffer, int byteValue, std::size_t bytes) override {
        return statusOf(cudaMemset(buffer, byteValue, bytes));
    }
    Status copyToDevice(void* device, const void* host, std::size_t bytes) override {
        return statusOf(cudaMemcpy(device, host, bytes, cudaMemcpyHostToDevice));
    }
    Status copyToHost(void* host, const void* device, std::size_t bytes) override {
        return statusOf(cudaMemcpy(host, device, bytes, cudaMemcpyDeviceToHost));
    }
    const char* describe(Status status) const override {
        return cudaGetErrorString(static_cast<cudaError_t>(status.code));
    }
};

/// A device is present and every registered kernel has code for it.
bool deviceRunsEveryKernel() {
    int devices = 0;
    if (cudaGetDeviceCount(&devices) != cudaSuccess || devices == 0) {
        cudaGetLastError();  // a missing driver must not stick to later calls
        return false;
    }
    for (const KernelEntry& kernel : kernelRegistry()) {
        cudaFuncAttributes attributes{};
        if (cudaFuncGetAttributes(&attributes, kernel.deviceSymbol) != cudaSuccess) {
            cudaGetLastError();
            return false;
        }
    }
    return true;
}

}  // namespace

Runtime* usableCudaRuntime() {
    static CudaRuntime runtime;
    static const bool usable = deviceRunsEveryKernel();
    return usable ? &runtime : nullptr;
}

}  // namespace quendel::device
