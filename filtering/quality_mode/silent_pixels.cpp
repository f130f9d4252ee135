#include "quality_mode/silent_pixels.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace filtering {

namespace {

// Below this many responding pixels around it, a silent pixel has no
// responding neighbour worth the name.
constexpr float kLeastCount = 0.5f;

}  // namespace

cv::Mat surfacePixels(const Frame& frame) {
    const cv::Mat& normals = frame[Normals];
    CV_Assert(normals.type() == CV_32FC3);
    cv::Mat surfaces(normals.size(), CV_8U);
    const cv::Mat& madeUp = frame.repaired[Positions];
    CV_Assert(madeUp.empty() || (madeUp.type() == CV_8U && madeUp.size() == normals.size()));
    cv::parallel_for_(cv::Range(0, normals.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const auto* normal = normals.ptr<cv::Vec3f>(row);
            const uchar* repaired = madeUp.empty() ? nullptr : madeUp.ptr<uchar>(row);
            uchar* surface = surfaces.ptr<uchar>(row);
            for (int column = 0; column < normals.cols; ++column) {
                const bool oriented = normal[column].dot(normal[column]) > kLeastSurfaceNormal;
                const bool measured = repaired == nullptr || repaired[column] == 0;
                surface[column] = oriented && measured ? 255 : 0;
            }
        }
    });
    return surfaces;
}

cv::Mat respondingPixels(const cv::Mat& color, const cv::Mat& surfaces) {
    CV_Assert(color.type() == CV_32FC3 && surfaces.type() == CV_8U &&
              surfaces.size() == color.size());
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

cv::Mat fillSilentPixels(const cv::Mat& light, const cv::Mat& responding, int reach) {
    CV_Assert(light.type() == CV_32FC3 && responding.type() == CV_8U &&
              responding.size() == light.size());
    if (cv::countNonZero(responding) == static_cast<int>(responding.total())) {
        return light;
    }
    // Per 2 x 2 block, the responding pixels' light and their count: the
    // stand-in light needs no finer grain, at a quarter of the work.
    const int blockRows = (light.rows + 1) / 2, blockCols = (light.cols + 1) / 2;
    cv::Mat blocks(blockRows, blockCols, CV_32FC4);
    cv::parallel_for_(cv::Range(0, blockRows), [&](const cv::Range& range) {
        for (int block = range.start; block < range.end; ++block) {
            auto* sums = blocks.ptr<cv::Vec4f>(block);
            std::fill(sums, sums + blockCols, cv::Vec4f());
            for (int row = 2 * block; row < std::min(2 * block + 2, light.rows); ++row) {
                const auto* pixel = light.ptr<cv::Vec3f>(row);
                const uchar* counts = responding.ptr<uchar>(row);
                for (int column = 0; column < light.cols; ++column) {
                    if (counts[column] != 0) {
                        const cv::Vec3f& p = pixel[column];
                        sums[column / 2] += cv::Vec4f(p[0], p[1], p[2], 1.0f);
                    }
                }
            }
        }
    });
    // Two boxes come close to a tent of the reach's width. The light needs no
    // edge-aware average here: a silent pixel's light only reaches the
    // pixels of its own surface, which the filter's guide keeps together.
    const cv::Size box(reach / 2 + 1, reach / 2 + 1);
    for (int pass = 0; pass < 2; ++pass) {
        cv::boxFilter(blocks, blocks, CV_32F, box, cv::Point(-1, -1), false,
                      cv::BORDER_REFLECT_101);
    }
    cv::Mat filled = light.clone();
    cv::parallel_for_(cv::Range(0, light.rows), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            auto* pixel = filled.ptr<cv::Vec3f>(row);
            const uchar* counts = responding.ptr<uchar>(row);
            const auto* sums = blocks.ptr<cv::Vec4f>(row / 2);
            for (int column = 0; column < light.cols; ++column) {
                if (counts[column] != 0) {
                    continue;
                }
                const cv::Vec4f& sum = sums[column / 2];
                const bool near = sum[3] > kLeastCount;
                for (int c = 0; c < 3; ++c) {
                    pixel[column][c] = near ? sum[c] / sum[3] : 0.0f;
                }
            }
        }
    });
    return filled;
}

}  // namespace filtering
