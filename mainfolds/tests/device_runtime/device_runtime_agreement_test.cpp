// CUDA and the emulator give the same results: bit for bit, except where
// a kernel calls expf or powf (2 ulp). Skipped without a device.

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "device_runtime/device_kernel_registry.h"
#include "device_runtime/device_kernels.h"
#include "device_runtime/device_launch_shape.h"
#include "device_runtime/device_test_support.h"

using device_test::DeviceArray;
using device_test::randomValues;
namespace launch = quendel::device::launch;
using quendel::device::kBlock1D;
using quendel::device::kBlock2D;
using quendel::device::shape1D;
using quendel::device::shape2D;
using quendel::device::singleThreadBlocks;

namespace {

// Odd sizes, and a plane that fills its tiles exactly.
constexpr int kWidths[] = {77, 128};
constexpr int kHeights[] = {45, 64};

struct KernelCase {
    std::string kernel;
    std::int64_t ulps;
    /// Runs the kernel on the active runtime and returns every output.
    std::function<std::vector<float>(int width, int height)> run;
};

std::vector<float> plane(int width, int height, unsigned seed, float low = -2.0f,
                         float high = 2.0f) {
    return randomValues(static_cast<std::size_t>(width) * height, seed, low, high);
}

std::vector<KernelCase> kernelCases() {
    using Run = std::function<std::vector<float>(int, int)>;
    auto sweep = [](auto kernel, bool rows) -> Run {
        return [=](int w, int h) {
            DeviceArray data(plane(w, h, 1));
            kernel(shape1D(rows ? h : w), data.get(), w, h, kBlock1D, 0.61f);
            return data.read();
        };
    };
    auto perPixelSweep = [](auto kernel, bool rows) -> Run {
        return [=](int w, int h) {
            DeviceArray data(plane(w, h, 2)), coefficients(plane(w, h, 3, 0.0f, 1.0f));
            kernel(shape1D(rows ? h : w), data.get(), w, h, coefficients.get(), kBlock1D);
            return data.read();
        };
    };
    auto accumulate = [](auto kernel, unsigned seed) -> Run {
        return [=](int w, int h) {
            DeviceArray a(plane(w, h, seed)), b(plane(w, h, seed + 1)),
                sums(plane(w, h, seed + 2, 0.0f, 3.0f));
            kernel(shape2D(w, h), a.get(), b.get(), w, h, kBlock2D, sums.get());
            return sums.read();
        };
    };
    return {
        {"horizontalHKernel", 0, sweep(launch::horizontalHKernel, true)},
        {"verticalHKernel", 0, sweep(launch::verticalHKernel, false)},
        {"horizontalRTKernel", 0, perPixelSweep(launch::horizontalRTKernel, true)},
        {"verticalRTKernel", 0, perPixelSweep(launch::verticalRTKernel, false)},
        {"accumulateWeights", 0, accumulate(launch::accumulateWeights, 10)},
        {"accumulateWeightedSum", 0, accumulate(launch::accumulateWeightedSum, 20)},
        {"divide", 0, accumulate(launch::divide, 30)},
        {"diffsAccumulateSum", 0,
         [](int w, int h) {
             DeviceArray image(plane(w, h, 4)), horizontal = DeviceArray::zeros(w * h),
                                                vertical = DeviceArray::zeros(w * h);
             launch::diffsAccumulateSum(shape2D(w, h), image.get(), w, h, kBlock2D,
                                        horizontal.get(), vertical.get());
             auto out = horizontal.read();
             const auto second = vertical.read();
             out.insert(out.end(), second.begin(), second.end());
             return out;
         }},
        {"diffCompute", 0,
         [](int w, int h) {
             DeviceArray sums(plane(w, h, 5, 0.0f, 9.0f));
             launch::diffCompute(shape2D(w, h), sums.get(), w, h, kBlock2D, 1.0f, 0.0721f);
             return sums.read();
         }},
        {"power", 2,
         [](int w, int h) {
             DeviceArray exponents(plane(w, h, 6, -20.0f, 20.0f)),
                 result = DeviceArray::zeros(w * h);
             launch::power(shape2D(w, h), exponents.get(), w, h, 0.7311f, kBlock2D, result.get());
             return result.read();
         }},
        {"computeWeights", 2,
         [](int w, int h) {
             DeviceArray data(plane(w, h, 7, 0.0f, 4.0f));
             launch::computeWeights(shape2D(w, h), data.get(), w, h, kBlock2D, 1.3f);
             return data.read();
         }},
        {"minusKernel", 0,
         [](int w, int h) {
             DeviceArray a(plane(w, h, 8)), b(plane(w, h, 9));
             launch::minusKernel(shape2D(w, h), a.get(), b.get(), w, h, kBlock2D);
             return a.read();
         }},
        {"Mt_M_mul", 0,
         [](int w, int h) {  // an h x 27 matrix, as the feature reduction makes
             const int columns = 27;
             (void)w;
             DeviceArray m(plane(columns, h, 11)), result = DeviceArray::zeros(columns * columns);
             launch::Mt_M_mul(singleThreadBlocks(columns, columns), m.get(), h, columns,
                              result.get());
             return result.read();
         }},
        {"mat_evec_mul", 0,
         [](int w, int h) {
             const int columns = 27, count = 6;
             (void)w;
             DeviceArray m(plane(columns, h, 12)), vectors(plane(columns, columns, 13));
             DeviceArray result = DeviceArray::zeros(h * count);
             launch::mat_evec_mul(singleThreadBlocks(32), m.get(), h, columns, vectors.get(), count,
                                  result.get());
             return result.read();
         }},
        {"mat_eigVecs_mul", 0,
         [](int w, int h) {
             const int columns = 27, count = 6;
             (void)w;
             DeviceArray m(plane(columns, h, 14)), vectors(plane(columns, columns, 15));
             DeviceArray result = DeviceArray::zeros(h * count);
             launch::mat_eigVecs_mul(singleThreadBlocks(32), m.get(), vectors.get(), h, columns,
                                     result.get(), count);
             return result.read();
         }},
    };
}

TEST(RuntimeAgreement, EveryRegisteredKernelHasACase) {
    std::set<std::string> registered, covered;
    for (const auto& entry : quendel::device::kernelRegistry()) {
        registered.insert(entry.name);
    }
    for (const auto& c : kernelCases()) {
        covered.insert(c.kernel);
    }
    EXPECT_EQ(covered, registered);
}

TEST(RuntimeAgreement, CudaMatchesTheEmulator) {
    if (!quendel::cudaDeviceAvailable()) {
        if (device_test::cudaRequired()) {
            FAIL() << "QUENDEL_REQUIRE_CUDA=1 but no usable CUDA device";
        }
        GTEST_SKIP() << "no CUDA device";
    }
    for (const auto& entry : quendel::device::kernelRegistry()) {
        EXPECT_NE(entry.deviceSymbol, nullptr) << entry.name;
    }
    for (const auto& c : kernelCases()) {
        for (const int width : kWidths) {
            for (const int height : kHeights) {
                SCOPED_TRACE(testing::Message() << c.kernel << " on " << width << " x " << height);
                quendel::forceDeviceEmulator(true);
                const auto emulated = c.run(width, height);
                quendel::forceDeviceEmulator(false);
                ASSERT_EQ(quendel::activeDeviceRuntime(), quendel::DeviceRuntime::cuda);
                const auto onDevice = c.run(width, height);
                EXPECT_TRUE(device_test::sameBits(onDevice, emulated, c.ulps));
            }
        }
    }
}

}  // namespace
