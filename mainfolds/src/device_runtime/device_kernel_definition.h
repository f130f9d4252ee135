#pragma once

// What a device module needs to turn a kernel body into a device entry
// point and a host launcher. A body is a QUENDEL_HOST_DEVICE function
// `quendel::kernels::<name>(ThreadIndex, parameters...)`;
// QUENDEL_DEFINE_KERNEL(name, (parameters), (arguments)) then defines
// - on CUDA builds, the `__global__ void name(parameters)` entry point;
// - `quendel::device::launch::name(shape, parameters)`, which launches the
//   entry point on a CUDA device, or runs the body on the emulator.

#include "device_runtime/device_emulator.h"
#include "device_runtime/device_kernel_registry.h"
#include "device_runtime/device_kernel_support.h"
#include "device_runtime/device_launch_shape.h"
#include "device_runtime/device_runtime_seam.h"

namespace quendel::device {

/// Runs `body(ThreadIndex)` once for every thread of every block.
template <typename Body>
void emulateLaunch(const LaunchShape& shape, const Body& body) {
    emulator().runGrid(
        shape,
        [](const void* bodyAddress, int blockX, int blockY, const Extent& block) {
            const Body& run = *static_cast<const Body*>(bodyAddress);
            for (int threadY = 0; threadY < block.y; ++threadY) {
                for (int threadX = 0; threadX < block.x; ++threadX) {
                    run(kernels::ThreadIndex{blockX, blockY, threadX, threadY});
                }
            }
        },
        &body);
}

#if defined(__CUDACC__)
inline dim3 toDim3(const Extent& extent) {
    return dim3(static_cast<unsigned>(extent.x), static_cast<unsigned>(extent.y), 1);
}
#endif

}  // namespace quendel::device

#define QUENDEL_EXPAND(...) __VA_ARGS__

#define QUENDEL_EMULATED_LAUNCH(name, shape, arguments)                                     \
    ::quendel::device::emulateLaunch(shape, [=](const ::quendel::kernels::ThreadIndex& t) { \
        ::quendel::kernels::name(t, QUENDEL_EXPAND arguments);                              \
    })

#if defined(__CUDACC__)

#define QUENDEL_DEFINE_KERNEL(name, parameters, arguments)                                 \
    __global__ void name parameters {                                                      \
        ::quendel::kernels::name(::quendel::kernels::hardwareThreadIndex(),                \
                                 QUENDEL_EXPAND arguments);                                \
    }                                                                                      \
    namespace quendel::device::launch {                                                    \
    void name(const LaunchShape& shape, QUENDEL_EXPAND parameters) {                       \
        if (launchesOnCuda()) {                                                            \
            ::name<<<toDim3(shape.grid), toDim3(shape.block)>>>(QUENDEL_EXPAND arguments); \
        } else {                                                                           \
            QUENDEL_EMULATED_LAUNCH(name, shape, arguments);                               \
        }                                                                                  \
    }                                                                                      \
    }
// clang-format off
#define QUENDEL_KERNEL_ENTRY(module, name) \
    ::quendel::device::KernelEntry{#name, module, reinterpret_cast<const void*>(&::name)}
// clang-format on

#else

#define QUENDEL_DEFINE_KERNEL(name, parameters, arguments)           \
    namespace quendel::device::launch {                              \
    void name(const LaunchShape& shape, QUENDEL_EXPAND parameters) { \
        QUENDEL_EMULATED_LAUNCH(name, shape, arguments);             \
    }                                                                \
    }
// clang-format off
#define QUENDEL_KERNEL_ENTRY(module, name) ::quendel::device::KernelEntry{#name, module, nullptr}
// clang-format on

#endif
