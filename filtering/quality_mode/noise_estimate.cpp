#include "quality_mode/noise_estimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quality_mode/median.h"

namespace filtering {

namespace {

// The high-pass x - (sum of four neighbours) / 4 of independent noise of
// deviation s has deviation s * sqrt(1 + 4 / 16).
const float kHighPassGain = std::sqrt(1.25f);

}  // namespace

cv::Mat luminance(const cv::Mat& bgr) {
    cv::Mat result;
    cv::transform(bgr, result, cv::Matx13f(kLuminanceBlue, kLuminanceGreen, kLuminanceRed));
    return result;
}

namespace {

// Marks in `close[column]` whether the pixel at `column` of row `a` and the
// one at `column + step` of row `b` lie on the same smooth surface.
void markClose(const cv::Vec3f* normalsA, const float* offsetsA, const cv::Vec3f* normalsB,
               const float* offsetsB, int count, float normalLimit, float offsetStep,
               uchar* close) {
    for (int column = 0; column < count; ++column) {
        const cv::Vec3f d = normalsB[column] - normalsA[column];
        const bool sameNormal = d.dot(d) <= normalLimit;
        const bool sameOffset = std::fabs(offsetsB[column] - offsetsA[column]) <= offsetStep;
        close[column] = static_cast<uchar>(sameNormal & sameOffset);
    }
}

}  // namespace

cv::Mat flatGeometryMask(const cv::Mat& normals, const cv::Mat& planeOffsets, float normalStep,
                         float offsetStep) {
    cv::Mat mask(normals.rows, normals.cols, CV_8U, cv::Scalar(0));
    const float normalLimit = normalStep * normalStep;
    const int cols = normals.cols;
    cv::parallel_for_(cv::Range(1, std::max(1, normals.rows - 1)), [&](const cv::Range& rows) {
        // Each pair of neighbours is compared once: right of every pixel,
        // and below, which is the next row's above.
        std::vector<uchar> right(static_cast<size_t>(cols)), up(right.size()), down(right.size());
        markClose(normals.ptr<cv::Vec3f>(rows.start - 1), planeOffsets.ptr<float>(rows.start - 1),
                  normals.ptr<cv::Vec3f>(rows.start), planeOffsets.ptr<float>(rows.start), cols,
                  normalLimit, offsetStep, down.data());
        for (int row = rows.start; row < rows.end; ++row) {
            const auto* normal = normals.ptr<cv::Vec3f>(row);
            const float* offset = planeOffsets.ptr<float>(row);
            up.swap(down);
            markClose(normal, offset, normal + 1, offset + 1, cols - 1, normalLimit, offsetStep,
                      right.data());
            markClose(normal, offset, normals.ptr<cv::Vec3f>(row + 1),
                      planeOffsets.ptr<float>(row + 1), cols, normalLimit, offsetStep, down.data());
            uchar* marked = mask.ptr<uchar>(row);
            for (int column = 1; column + 1 < cols; ++column) {
                const size_t i = static_cast<size_t>(column);
                marked[column] = (right[i - 1] & right[i] & up[i] & down[i]) != 0 ? 255 : 0;
            }
        }
    });
    return mask;
}

float estimateNoise(const cv::Mat& image, const cv::Mat& mask) {
    std::vector<float> magnitudes;
    magnitudes.reserve(image.total() / 2);
    // Every second row gives plenty of samples at half the cost of sorting.
    for (int row = 1; row + 1 < image.rows; row += 2) {
        const float* above = image.ptr<float>(row - 1);
        const float* here = image.ptr<float>(row);
        const float* below = image.ptr<float>(row + 1);
        const uchar* marked = mask.ptr<uchar>(row);
        for (int column = 1; column + 1 < image.cols; ++column) {
            if (marked[column] == 0) {
                continue;
            }
            const float neighbours =
                (above[column] + below[column]) + (here[column - 1] + here[column + 1]);
            const float highPass = here[column] - 0.25f * neighbours;
            if (std::isfinite(highPass)) {
                magnitudes.push_back(std::fabs(highPass));
            }
        }
    }
    return kMadToDeviation * medianInPlace(magnitudes) / kHighPassGain;
}

}  // namespace filtering
