#include "device_filters/device_staging.h"
#include "device_runtime/device_kernels.h"
#include "foundations/texture_sizes.h"
#include "host_filters/filter_coefficients.h"
#include "quendel/gpu_filters.h"

namespace quendel {

namespace {

// The device filter runs the sweeps once; its single sigma is that of a
// one-iteration schedule (sigmaS up to rounding).
constexpr int kDeviceTdrIterations = 1;

struct PlaneSize {
    int width;
    int height;
};

// Sums of squared guide differences towards the left and upper neighbours,
// over every guide channel. The guide's buffer lives only in this step, on
// a view of its planes, so the caller's guide is never staged (it may even
// be the image itself).
bool accumulateGuideDifferences(const GpuTexture& guide, PlaneSize size, float* horizontalSums,
                                float* verticalSums) {
    GpuTexture planes(static_cast<const CpuTexture&>(guide));
    DeviceStaging staging;
    if (!staging.allocate(planes)) {
        return false;
    }
    const device::LaunchShape pixels = device::shape2D(size.width, size.height);
    const int channels = static_cast<int>(planes.getChannelsCount());
    for (int c = 0; c < channels; ++c) {
        if (!planes.uploadChannel(c)) {
            return false;
        }
        device::launch::diffsAccumulateSum(pixels, planes.getDeviceData(), size.width, size.height,
                                           device::kBlock2D, horizontalSums, verticalSums);
    }
    return true;
}

// Horizontal pass then vertical pass on each channel in turn, one plane on
// the device at a time.
bool sweepChannels(GpuTexture& image, PlaneSize size, float* horizontalCoefficients,
                   float* verticalCoefficients) {
    DeviceStaging staging;
    if (!staging.allocate(image)) {
        return false;
    }
    const device::LaunchShape rows = device::shape1D(size.height);
    const device::LaunchShape columns = device::shape1D(size.width);
    float* plane = image.getDeviceData();
    const int channels = static_cast<int>(image.getChannelsCount());
    for (int c = 0; c < channels; ++c) {
        if (!image.uploadChannel(c)) {
            return false;
        }
        device::launch::horizontalRTKernel(rows, plane, size.width, size.height,
                                           horizontalCoefficients, device::kBlock1D);
        device::launch::verticalRTKernel(columns, plane, size.width, size.height,
                                         verticalCoefficients, device::kBlock1D);
        if (!image.downloadChannel(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool TDRFilter<GpuFiltering>::process(GpuTexture& image, GpuTexture& guide, float sigmaS,
                                      float sigmaR) {
    const unsigned width = image.getWidth();
    const unsigned height = image.getHeight();
    if (guide.getWidth() != width || guide.getHeight() != height) {
        return false;
    }
    ensureTextureSize(horizontalDistances, width, height, 1);
    ensureTextureSize(verticalDistances, width, height, 1);
    ensureTextureSize(verticalCoefficients, width, height, 1);
    ensureTextureSize(horizontalCoefficients, width, height, 1);
    if (image.getPixelsCount() == 0) {
        return true;
    }
    const PlaneSize size{static_cast<int>(width), static_cast<int>(height)};
    const device::LaunchShape pixels = device::shape2D(size.width, size.height);
    const DistanceWeights weights = distanceWeights(sigmaS, sigmaR);
    const float a =
        feedbackCoefficient(iterationSigma(sigmaS, kDeviceTdrIterations, kDeviceTdrIterations));

    // The distances are dropped once the coefficients are made, so at most
    // four planes are on the device at any time.
    DeviceStaging coefficientsStaging;
    {
        DeviceStaging distancesStaging;
        if (!distancesStaging.allocate(horizontalDistances) ||
            !distancesStaging.allocate(verticalDistances) || !horizontalDistances.clearDevice() ||
            !verticalDistances.clearDevice()) {
            return false;
        }
        float* horizontal = horizontalDistances.getDeviceData();
        float* vertical = verticalDistances.getDeviceData();
        if (!accumulateGuideDifferences(guide, size, horizontal, vertical)) {
            return false;
        }
        device::launch::diffCompute(pixels, horizontal, size.width, size.height, device::kBlock2D,
                                    weights.k0, weights.k1);
        device::launch::diffCompute(pixels, vertical, size.width, size.height, device::kBlock2D,
                                    weights.k0, weights.k1);
        if (!coefficientsStaging.allocate(verticalCoefficients) ||
            !coefficientsStaging.allocate(horizontalCoefficients)) {
            return false;
        }
        device::launch::power(pixels, horizontal, size.width, size.height, a, device::kBlock2D,
                              horizontalCoefficients.getDeviceData());
        device::launch::power(pixels, vertical, size.width, size.height, a, device::kBlock2D,
                              verticalCoefficients.getDeviceData());
    }
    return sweepChannels(image, size, horizontalCoefficients.getDeviceData(),
                         verticalCoefficients.getDeviceData());
}

}  // namespace quendel
