#include "quality_mode/silent_pixels.h"

#include "frame_io/layer_files.h"
#include "quendel/tdr_filter.h"

namespace filtering {

namespace {

// Below this share of a responding pixel's weight, a silent pixel has no
// responding neighbour worth the name.
constexpr float kLeastWeight = 1e-3f;

}  // namespace

cv::Mat surfacePixels(const Frame& frame) {
    const cv::Mat& normals = frame[Normals];
    cv::Mat surfaces(normals.size(), CV_8U);
    const cv::Mat& madeUp = frame.repaired[Positions];
    cv::parallel_for_(cv::Range(0, normals.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const auto* normal = normals.ptr<cv::Vec3f>(row);
            const uchar* repaired = madeUp.empty() ? nullptr : madeUp.ptr<uchar>(row);
            uchar* surface = surfaces.ptr<uchar>(row);
            for (int column = 0; column < normals.cols; ++column) {
                // Unit normals, give or take what half floats keep.
                const bool oriented = normal[column].dot(normal[column]) > 0.25f;
                const bool measured = repaired == nullptr || repaired[column] == 0;
                surface[column] = oriented && measured ? 255 : 0;
            }
        }
    });
    return surfaces;
}

cv::Mat respondingPixels(const cv::Mat& color, const cv::Mat& surfaces) {
    cv::Mat responding(color.size(), CV_8U);
    cv::parallel_for_(cv::Range(0, color.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const auto* colour = color.ptr<cv::Vec3f>(row);
            const uchar* surface = surfaces.ptr<uchar>(row);
            uchar* out = responding.ptr<uchar>(row);
            for (int column = 0; column < color.cols; ++column) {
                const cv::Vec3f& c = colour[column];
                const bool bright = c[0] > 0.0f || c[1] > 0.0f || c[2] > 0.0f;
                out[column] = bright && surface[column] != 0 ? 255 : 0;
            }
        }
    });
    return responding;
}

cv::Mat fillSilentPixels(const cv::Mat& light, const cv::Mat& responding,
                         const quendel::CpuTexture& guide, float reach) {
    if (cv::countNonZero(responding) == static_cast<int>(responding.total())) {
        return light;
    }
    const int rows = light.rows, cols = light.cols;
    quendel::CpuTexture weighted = newTexture(light.size(), 4);
    std::array<float*, 4> planes{};
    for (unsigned c = 0; c < 4; ++c) {
        planes[c] = weighted.getChannel(c);
    }
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
        for (int row = range.start; row < range.end; ++row) {
            const auto* pixel = light.ptr<cv::Vec3f>(row);
            const uchar* counts = responding.ptr<uchar>(row);
            const size_t at = static_cast<size_t>(row) * static_cast<size_t>(cols);
            for (int column = 0; column < cols; ++column) {
                const float weight = counts[column] != 0 ? 1.0f : 0.0f;
                for (int c = 0; c < 3; ++c) {
                    planes[c][at + column] = pixel[column][c] * weight;
                }
                planes[3][at + column] = weight;
            }
        }
    });
    quendel::TDRFilter<quendel::CpuFiltering> filter;
    filter.process(weighted, guide, reach, 1.0f);
    cv::Mat filled = light.clone();
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
        for (int row = range.start; row < range.end; ++row) {
            auto* pixel = filled.ptr<cv::Vec3f>(row);
            const uchar* counts = responding.ptr<uchar>(row);
            const size_t at = static_cast<size_t>(row) * static_cast<size_t>(cols);
            for (int column = 0; column < cols; ++column) {
                if (counts[column] != 0) {
                    continue;
                }
                const float weight = planes[3][at + column];
                const bool near = weight > kLeastWeight;
                for (int c = 0; c < 3; ++c) {
                    pixel[column][c] = near ? planes[c][at + column] / weight : 0.0f;
                }
            }
        }
    });
    return filled;
}

}  // namespace filtering
