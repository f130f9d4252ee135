#include "device_filters/device_staging.h"
#include "device_runtime/device_kernels.h"
#include "host_filters/filter_coefficients.h"
#include "quendel/gpu_filters.h"

namespace quendel {

bool HFilter<GpuFiltering>::process(GpuTexture& texture, float sigma) {
    if (texture.getPixelsCount() == 0) {
        return true;  // nothing to smooth, and nothing to stage
    }
    const int width = static_cast<int>(texture.getWidth());
    const int height = static_cast<int>(texture.getHeight());
    DeviceStaging staging;
    if (!staging.allocate(texture)) {
        return false;
    }
    const float a = feedbackCoefficient(sigma);
    const device::LaunchShape rows = device::shape1D(height);
    const device::LaunchShape columns = device::shape1D(width);
    float* plane = texture.getDeviceData();
    const int channels = static_cast<int>(texture.getChannelsCount());
    for (int c = 0; c < channels; ++c) {
        if (!texture.uploadChannel(c)) {
            return false;
        }
        device::launch::horizontalHKernel(rows, plane, width, height, device::kBlock1D, a);
        device::launch::verticalHKernel(columns, plane, width, height, device::kBlock1D, a);
        if (!texture.downloadChannel(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace quendel
