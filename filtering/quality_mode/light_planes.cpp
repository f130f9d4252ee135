#include "quality_mode/light_planes.h"

#include <array>
#include <vector>

#include "frame_io/fresh_image.h"
#include "frame_io/layer_files.h"
#include "quality_mode/noise_estimate.h"

namespace filtering {

namespace {

// Row stripes of the sums: a fixed count, so that the order of the
// additions is the same whatever the threads.
constexpr int kSumStripes = 64;

template <typename ReadPixel>
cv::Vec3d sumReflected(int rows, int cols, const cv::Mat& texColor, ReadPixel readPixel) {
    std::vector<cv::Vec3d> stripes(kSumStripes);
    cv::parallel_for_(cv::Range(0, kSumStripes), [&](const cv::Range& range) {
        for (int stripe = range.start; stripe < range.end; ++stripe) {
            cv::Vec3d sum;
            for (int row = rows * stripe / kSumStripes; row < rows * (stripe + 1) / kSumStripes;
                 ++row) {
                const auto* colour = texColor.ptr<cv::Vec3f>(row);
                cv::Vec3f rowSum;
                for (int column = 0; column < cols; ++column) {
                    rowSum += readPixel(row, column).mul(colour[column]);
                }
                sum += cv::Vec3d(rowSum);
            }
            stripes[static_cast<size_t>(stripe)] = sum;
        }
    });
    cv::Vec3d total;
    for (const cv::Vec3d& stripe : stripes) {
        total += stripe;
    }
    return total;
}

}  // namespace

PlanarLight planarLight(SeparatedFireflies parts) {
    const quendel::CpuTexture& kept = parts.kept;
    const int rows = static_cast<int>(kept.getHeight());
    const int cols = static_cast<int>(kept.getWidth());
    CV_Assert(
        kept.getChannelsCount() == 3 &&
        (parts.spread.empty() || parts.spread.size() == cv::Size((cols + 1) / 2, (rows + 1) / 2)));
    PlanarLight planar{std::move(parts.kept), newTexture(cv::Size(cols, rows), 1)};
    const std::array<float*, 3> channels = {planar.image.getChannel(0), planar.image.getChannel(1),
                                            planar.image.getChannel(2)};
    float* brightness = planar.brightness.getChannel(0);
    const cv::Mat& spread = parts.spread;
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
        for (int row = range.start; row < range.end; ++row) {
            const cv::Vec3f* blocks = spread.empty() ? nullptr : spread.ptr<cv::Vec3f>(row / 2);
            const size_t at = static_cast<size_t>(row) * static_cast<size_t>(cols);
            for (int column = 0; column < cols; ++column) {
                const size_t i = at + static_cast<size_t>(column);
                cv::Vec3f pixel(channels[0][i], channels[1][i], channels[2][i]);
                if (blocks != nullptr) {
                    pixel += blocks[column / 2] * kSpreadShare;
                    channels[0][i] = pixel[0];
                    channels[1][i] = pixel[1];
                    channels[2][i] = pixel[2];
                }
                brightness[i] = kLuminanceBlue * pixel[0] + kLuminanceGreen * pixel[1] +
                                kLuminanceRed * pixel[2];
            }
        }
    });
    return planar;
}

PlanarLight planarLight(const cv::Mat& light) {
    CV_Assert(light.type() == CV_32FC3);
    SeparatedFireflies parts;
    parts.kept = toTexture(light);
    return planarLight(std::move(parts));
}

cv::Vec3d reflectedLight(const cv::Mat& light, const cv::Mat& texColor) {
    CV_Assert(light.type() == CV_32FC3 && texColor.type() == CV_32FC3 &&
              light.size() == texColor.size());
    return sumReflected(light.rows, light.cols, texColor,
                        [&](int row, int column) { return light.ptr<cv::Vec3f>(row)[column]; });
}

cv::Vec3d reflectedLight(const quendel::CpuTexture& light, const cv::Mat& texColor) {
    CV_Assert(light.getChannelsCount() >= 3 && texColor.type() == CV_32FC3 &&
              static_cast<int>(light.getWidth()) == texColor.cols &&
              static_cast<int>(light.getHeight()) == texColor.rows);
    const std::array<const float*, 3> channels = {light.getChannel(0), light.getChannel(1),
                                                  light.getChannel(2)};
    const size_t width = light.getWidth();
    return sumReflected(texColor.rows, texColor.cols, texColor, [&](int row, int column) {
        const size_t at = static_cast<size_t>(row) * width + static_cast<size_t>(column);
        return cv::Vec3f(channels[0][at], channels[1][at], channels[2][at]);
    });
}

cv::Mat interleavedScaled(const quendel::CpuTexture& planes, const cv::Vec3f& scale) {
    const int rows = static_cast<int>(planes.getHeight());
    const int cols = static_cast<int>(planes.getWidth());
    const std::array<const float*, 3> channels = {planes.getChannel(0), planes.getChannel(1),
                                                  planes.getChannel(2)};
    cv::Mat result = freshImage(rows, cols, CV_32FC3);
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
        for (int row = range.start; row < range.end; ++row) {
            auto* out = result.ptr<cv::Vec3f>(row);
            const size_t at = static_cast<size_t>(row) * static_cast<size_t>(cols);
            for (int column = 0; column < cols; ++column) {
                const size_t i = at + static_cast<size_t>(column);
                out[column] = cv::Vec3f(channels[0][i] * scale[0], channels[1][i] * scale[1],
                                        channels[2][i] * scale[2]);
            }
        }
    });
    return result;
}

}  // namespace filtering
