#include "temporal/camera_projection.h"

#include <cmath>
#include <vector>

namespace filtering {

namespace {

// A few thousand points determine the twelve numbers; more only cost time.
constexpr double kMostSamples = 16384;
constexpr double kInlierPixels = 1.0;
// Positions of one sample each, anywhere in their pixel, scatter by 0.41.
constexpr double kLargestRmsPixels = 0.5;
// Positions all in one plane leave more than one projection that fits
// them: the second smallest eigenvalue is then as small as the smallest.
constexpr double kLeastSecondEigenvalue = 1e-9;
constexpr int kLeastSamples = 12;

struct Sample {
    cv::Vec3d position;
    cv::Point2d pixel;
};

std::vector<Sample> surfaceSamples(const Frame& frame) {
    const cv::Mat& positions = frame[Positions];
    const int stride =
        std::max(1, int(std::ceil(std::sqrt(double(positions.total()) / kMostSamples))));
    std::vector<Sample> samples;
    for (int y = 0; y < positions.rows; y += stride) {
        for (int x = 0; x < positions.cols; x += stride) {
            const cv::Vec3f& p = positions.at<cv::Vec3f>(y, x);
            if (!showsSurface(frame, y, x) || !positionMeasured(frame, y, x) ||
                !std::isfinite(p.dot(p))) {
                continue;
            }
            samples.push_back({cv::Vec3d(p[0], p[1], p[2]), cv::Point2d(x, y)});
        }
    }
    return samples;
}

// Points and pixels centred and scaled to unit size, so that the direct
// linear fit's equations are well conditioned.
struct Normalisation {
    cv::Vec3d centre;
    double scale = 1;
    cv::Point2d pixelCentre;
    double pixelScale = 1;
};

Normalisation normalisation(const std::vector<Sample>& samples, const std::vector<bool>& used) {
    Normalisation n;
    double count = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!used[i]) continue;
        n.centre += samples[i].position;
        n.pixelCentre += samples[i].pixel;
        ++count;
    }
    n.centre /= count;
    n.pixelCentre /= count;
    double spread = 0, pixelSpread = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!used[i]) continue;
        spread += cv::norm(samples[i].position - n.centre);
        pixelSpread += cv::norm(samples[i].pixel - n.pixelCentre);
    }
    n.scale = spread > 0 ? count / spread : 1;
    n.pixelScale = pixelSpread > 0 ? count / pixelSpread : 1;
    return n;
}

std::optional<cv::Matx34d> directLinearFit(const std::vector<Sample>& samples,
                                           const std::vector<bool>& used) {
    const Normalisation n = normalisation(samples, used);
    cv::Matx<double, 12, 12> normal = cv::Matx<double, 12, 12>::zeros();
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!used[i]) continue;
        const cv::Vec3d p = (samples[i].position - n.centre) * n.scale;
        const cv::Point2d u = (samples[i].pixel - n.pixelCentre) * n.pixelScale;
        const double rows[2][12] = {
            {p[0], p[1], p[2], 1, 0, 0, 0, 0, -u.x * p[0], -u.x * p[1], -u.x * p[2], -u.x},
            {0, 0, 0, 0, p[0], p[1], p[2], 1, -u.y * p[0], -u.y * p[1], -u.y * p[2], -u.y}};
        for (const auto& row : rows) {
            for (int a = 0; a < 12; ++a) {
                for (int b = a; b < 12; ++b) normal(a, b) += row[a] * row[b];
            }
        }
    }
    for (int a = 0; a < 12; ++a) {
        for (int b = 0; b < a; ++b) normal(a, b) = normal(b, a);
    }
    cv::Mat values, vectors;
    cv::eigen(cv::Mat(normal), values, vectors);  // descending
    if (!(values.at<double>(10) > kLeastSecondEigenvalue * values.at<double>(0))) {
        return std::nullopt;
    }
    cv::Matx34d fitted;
    for (int i = 0; i < 12; ++i) fitted(i / 4, i % 4) = vectors.at<double>(11, i);
    const double s = n.scale, t = n.pixelScale;
    const cv::Matx44d toNormalWorld(s, 0, 0, -s * n.centre[0], 0, s, 0, -s * n.centre[1], 0, 0, s,
                                    -s * n.centre[2], 0, 0, 0, 1);
    const cv::Matx33d fromNormalPixels(1 / t, 0, n.pixelCentre.x, 0, 1 / t, n.pixelCentre.y, 0, 0,
                                       1);
    return fromNormalPixels * fitted * toNormalWorld;
}

double squaredError(const cv::Matx34d& matrix, const Sample& sample) {
    const cv::Vec3d h =
        matrix * cv::Vec4d(sample.position[0], sample.position[1], sample.position[2], 1);
    const double dx = h[0] / h[2] - sample.pixel.x, dy = h[1] / h[2] - sample.pixel.y;
    return dx * dx + dy * dy;
}

}  // namespace

std::optional<CameraProjection> CameraProjection::fit(const Frame& frame) {
    const std::vector<Sample> samples = surfaceSamples(frame);
    if (int(samples.size()) < kLeastSamples) return std::nullopt;
    std::vector<bool> used(samples.size(), true);
    std::optional<cv::Matx34d> matrix = directLinearFit(samples, used);
    if (!matrix) return std::nullopt;
    size_t inliers = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        used[i] = squaredError(*matrix, samples[i]) <= kInlierPixels * kInlierPixels;
        inliers += used[i] ? 1 : 0;
    }
    if (2 * inliers < samples.size() || int(inliers) < kLeastSamples) return std::nullopt;
    matrix = directLinearFit(samples, used);
    if (!matrix) return std::nullopt;
    double squares = 0, depthSign = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (!used[i]) continue;
        squares += std::min(squaredError(*matrix, samples[i]), kInlierPixels * kInlierPixels);
        const cv::Vec3d& p = samples[i].position;
        depthSign += (*matrix)(2, 0) * p[0] + (*matrix)(2, 1) * p[1] + (*matrix)(2, 2) * p[2] +
                     (*matrix)(2, 3);
    }
    if (!(std::sqrt(squares / double(inliers)) <= kLargestRmsPixels)) return std::nullopt;
    // The fit's sign is arbitrary; points in view are in front.
    return CameraProjection(depthSign < 0 ? -1.0 * *matrix : *matrix);
}

std::optional<cv::Point> nearestPixel(const cv::Vec2f& at, cv::Size size) {
    if (!(at[0] > -0.5f && at[1] > -0.5f && at[0] < float(size.width) - 0.5f &&
          at[1] < float(size.height) - 0.5f)) {
        return std::nullopt;
    }
    return cv::Point(cvRound(at[0]), cvRound(at[1]));
}

cv::Mat landingPlaces(const Frame& frame, const Frame& neighbour) {
    const std::optional<CameraProjection> projection = CameraProjection::fit(neighbour);
    if (!projection) return cv::Mat();
    const cv::Mat& positions = frame[Positions];
    cv::Mat landing(positions.size(), CV_32FC2);
    landing.forEach<cv::Vec2f>([&](cv::Vec2f& at, const int* pixel) {
        const std::optional<cv::Point2f> seen =
            projection->project(positions.at<cv::Vec3f>(pixel[0], pixel[1]));
        at = seen ? cv::Vec2f(seen->x, seen->y) : cv::Vec2f::all(std::nanf(""));
    });
    return landing;
}

std::optional<cv::Point2f> CameraProjection::project(const cv::Vec3f& position) const {
    const cv::Vec3d h = matrix_ * cv::Vec4d(position[0], position[1], position[2], 1);
    if (!(h[2] > 0)) return std::nullopt;
    const double x = h[0] / h[2], y = h[1] / h[2];
    // Far out of any frame (or not finite): nowhere a pixel could be read.
    constexpr double kFarOut = 1e7;
    if (!(std::abs(x) < kFarOut && std::abs(y) < kFarOut)) return std::nullopt;
    return cv::Point2f(float(x), float(y));
}

}  // namespace filtering
