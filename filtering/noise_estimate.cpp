#include "noise_estimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "median.h"

namespace filtering {

namespace {

// The high-pass x - (sum of four neighbours) / 4 of independent noise of
// deviation s has deviation s * sqrt(1 + 4 / 16).
const float kHighPassGain = std::sqrt(1.25f);
// Median absolute deviation to standard deviation of a Gaussian.
constexpr float kMadToDeviation = 1.4826f;

}  // namespace

cv::Mat luminance(const cv::Mat& bgr) {
    cv::Mat result;
    cv::transform(bgr, result, cv::Matx13f(0.0722f, 0.7152f, 0.2126f));
    return result;
}

cv::Mat flatGeometryMask(const cv::Mat& normals, const cv::Mat& planeOffsets, float normalStep,
                         float offsetStep) {
    cv::Mat mask(normals.rows, normals.cols, CV_8U, cv::Scalar(0));
    const float normalLimit = normalStep * normalStep;
    cv::parallel_for_(cv::Range(1, std::max(1, normals.rows - 1)), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const cv::Vec3f* normalRows[3] = {normals.ptr<cv::Vec3f>(row - 1),
                                              normals.ptr<cv::Vec3f>(row),
                                              normals.ptr<cv::Vec3f>(row + 1)};
            const float* offsetRows[3] = {planeOffsets.ptr<float>(row - 1),
                                          planeOffsets.ptr<float>(row),
                                          planeOffsets.ptr<float>(row + 1)};
            uchar* marked = mask.ptr<uchar>(row);
            for (int column = 1; column + 1 < normals.cols; ++column) {
                const cv::Vec3f normal = normalRows[1][column];
                const float offset = offsetRows[1][column];
                const auto near = [&](int r, int c) {
                    const cv::Vec3f d = normalRows[r][c] - normal;
                    return d.dot(d) <= normalLimit &&
                           std::fabs(offsetRows[r][c] - offset) <= offsetStep;
                };
                if (near(0, column) && near(2, column) && near(1, column - 1) &&
                    near(1, column + 1)) {
                    marked[column] = 255;
                }
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
