#include "frame_io/camera_fit.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace filtering {

namespace {

constexpr double kMostRelativeError = 1e-3;
constexpr size_t kFewestSurfacePixels = 16;
// A grid of about this many pixels pins a camera down as well as every pixel.
constexpr double kSampledPixels = 65536.0;

struct SurfacePoint {
    double x, y, z, depth, u, v;
};

std::vector<SurfacePoint> surfacePoints(const cv::Mat& positions, const cv::Mat& depth) {
    std::vector<SurfacePoint> points;
    const int step = std::max(1, static_cast<int>(std::sqrt(positions.total() / kSampledPixels)));
    for (int row = step / 2; row < positions.rows; row += step) {
        const auto* p = positions.ptr<cv::Vec3f>(row);
        const float* d = depth.ptr<float>(row);
        for (int col = step / 2; col < positions.cols; col += step) {
            const bool finite = std::isfinite(p[col][0]) && std::isfinite(p[col][1]) &&
                                std::isfinite(p[col][2]) && std::isfinite(d[col]);
            if (!finite || !(d[col] > 0.0f) || d[col] >= kBackgroundDepth) continue;
            // Pixel centres in [-1, 1], which keeps the fit well conditioned.
            const double u = (col + 0.5) / positions.cols * 2.0 - 1.0;
            const double v = (row + 0.5) / positions.rows * 2.0 - 1.0;
            points.push_back({p[col][2], p[col][1], p[col][0], d[col], u, v});
        }
    }
    return points;
}

// Least squares through the normal equations, which are small here.
cv::Matx41d solveNormal(const cv::Matx44d& normal, const cv::Matx41d& right) {
    cv::Matx41d solution;
    cv::solve(normal, right, solution, cv::DECOMP_SVD);
    return solution;
}

// Whether the points pin the unknowns down: a frame that shows one wall
// face on cannot tell the camera's distance from the scene's scale.
bool wellPosed(const cv::Matx44d& normal) {
    cv::Matx44d scaled;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            scaled(i, j) = normal(i, j) / std::sqrt(normal(i, i) * normal(j, j));
        }
    }
    cv::Matx41d values;
    cv::eigen(scaled, values);
    return values(3) > 1e-9 * values(0);
}

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct Fit {
    cv::Vec3d camera;
    double error = INFINITY;  // median relative error
};

// Position = camera + depth x (a + u b + v c), one axis at a time.
Fit fitAxisDepth(const std::vector<SurfacePoint>& points) {
    cv::Matx44d normal = cv::Matx44d::zeros();
    cv::Matx<double, 4, 3> right = cv::Matx<double, 4, 3>::zeros();
    for (const SurfacePoint& p : points) {
        const cv::Vec4d a(1.0, p.depth, p.depth * p.u, p.depth * p.v);
        normal += a * a.t();
        const double axes[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i < 4; ++i) right(i, k) += a[i] * axes[k];
        }
    }
    Fit fit;
    if (!wellPosed(normal)) return fit;
    cv::Matx<double, 4, 3> coefficients;
    for (int k = 0; k < 3; ++k) {
        const auto column = solveNormal(normal, right.col(k));
        for (int i = 0; i < 4; ++i) coefficients(i, k) = column(i);
    }
    fit.camera = cv::Vec3d(coefficients(0, 0), coefficients(0, 1), coefficients(0, 2));
    std::vector<double> errors;
    errors.reserve(points.size());
    for (const SurfacePoint& p : points) {
        const cv::Vec4d a(1.0, p.depth, p.depth * p.u, p.depth * p.v);
        const cv::Vec3d position(p.x, p.y, p.z);
        cv::Vec3d predicted;
        for (int k = 0; k < 3; ++k) predicted[k] = a.dot(coefficients.col(k));
        const double reach = cv::norm(position - fit.camera);
        errors.push_back(cv::norm(position - predicted) / std::max(reach, 1e-30));
    }
    fit.error = median(std::move(errors));
    return fit;
}

// |position - camera| = depth: 2 position . camera - |camera|^2 = |position|^2 - depth^2.
Fit fitRangeDepth(const std::vector<SurfacePoint>& points) {
    cv::Matx44d normal = cv::Matx44d::zeros();
    cv::Vec4d right = cv::Vec4d::all(0.0);
    for (const SurfacePoint& p : points) {
        const cv::Vec4d a(2.0 * p.x, 2.0 * p.y, 2.0 * p.z, -1.0);
        normal += a * a.t();
        right += a * (p.x * p.x + p.y * p.y + p.z * p.z - p.depth * p.depth);
    }
    Fit fit;
    if (!wellPosed(normal)) return fit;
    const auto solution = solveNormal(normal, cv::Matx41d(right));
    fit.camera = cv::Vec3d(solution(0), solution(1), solution(2));
    std::vector<double> errors;
    errors.reserve(points.size());
    for (const SurfacePoint& p : points) {
        const double reach = cv::norm(cv::Vec3d(p.x, p.y, p.z) - fit.camera);
        errors.push_back(std::abs(reach - p.depth) / p.depth);
    }
    fit.error = median(std::move(errors));
    return fit;
}

}  // namespace

std::optional<CameraPosition> fitCamera(const cv::Mat& positions, const cv::Mat& depth) {
    CV_Assert(positions.type() == CV_32FC3 && depth.type() == CV_32F &&
              positions.size() == depth.size());
    const std::vector<SurfacePoint> points = surfacePoints(positions, depth);
    if (points.size() < kFewestSurfacePixels) {
        return std::nullopt;
    }
    Fit best = fitAxisDepth(points);
    if (const Fit range = fitRangeDepth(points); range.error < best.error) {
        best = range;
    }
    if (!(best.error <= kMostRelativeError)) {
        return std::nullopt;
    }
    return CameraPosition{static_cast<float>(best.camera[0]), static_cast<float>(best.camera[1]),
                          static_cast<float>(best.camera[2])};
}

}  // namespace filtering
