#include "quality_mode/edge_smoothing.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "frame_io/frame.h"
#include "quality_mode/median.h"
#include "quality_mode/noise_estimate.h"
#include "temporal/image_reads.h"

namespace filtering {

namespace {

// Squared normal lengths below this are mixtures of samples (unit normals,
// give or take what half floats keep, are longer).
constexpr float kMostMixed = 0.98f;
// The edge's direction: the structure tensor of the display values, its
// products averaged under a Gaussian of this deviation (pixels); only where
// one direction holds this share of it (the squared coherence).
constexpr float kTensorDeviation = 1.0f;
constexpr float kLeastCoherence = 0.3f;
// A place along the edge counts fully while its display value differs from
// the pixel's by well under this many times the frame's raggedness.
constexpr float kAgreement = 3.0f;
// Bilinear reads along an exact edge stray from it too (0.085-0.136 of the
// contrast, the median over three converged frames): below the first of
// these raggednesses an edge is left alone, from the second on it is
// evened out in full.
constexpr float kLeastRaggedness = 0.15f, kFullRaggedness = 0.3f;

// What the screen shows: the value clipped to [0, 1] and raised to 1 / 2.4
// (the sRGB curve without its linear toe and offset, which the ratios of
// differences below do not see), so that differences weigh as they are seen.
cv::Mat displayed(const cv::Mat& image) {
    cv::Mat clipped;
    cv::min(cv::max(image, 0.0f), 1.0f, clipped);
    cv::Mat encoded;
    cv::pow(clipped, 1.0 / 2.4, encoded);
    return encoded;
}

// One step along the edge at a pixel, a whole pixel along the row or the
// column (whichever the edge runs closer to) so that each place is read
// between two pixels across the edge at most; and the contrast across it.
struct EdgeStep {
    cv::Point2f along;
    float contrast = 0;  // 0: no edge with one direction here
};

class EdgeDirections {
  public:
    explicit EdgeDirections(const cv::Mat& display) {
        const cv::Mat level = luminance(display);
        cv::Mat dx, dy;
        cv::Sobel(level, dx, CV_32F, 1, 0, 3, 1.0 / 8.0, 0, cv::BORDER_REPLICATE);
        cv::Sobel(level, dy, CV_32F, 0, 1, 3, 1.0 / 8.0, 0, cv::BORDER_REPLICATE);
        xx_ = dx.mul(dx);
        xy_ = dx.mul(dy);
        yy_ = dy.mul(dy);
        for (cv::Mat* product : {&xx_, &xy_, &yy_}) {
            cv::GaussianBlur(*product, *product, cv::Size(), kTensorDeviation, kTensorDeviation,
                             cv::BORDER_REPLICATE);
        }
    }

    EdgeStep at(int y, int x) const {
        const float a = xx_.at<float>(y, x), b = xy_.at<float>(y, x), c = yy_.at<float>(y, x);
        const float half = 0.5f * (a + c);
        const float spread = std::sqrt(std::max(0.0f, half * half - (a * c - b * b)));
        const float across = half + spread, along = half - spread;
        EdgeStep step;
        if (!(across > 0.0f)) return step;
        const float coherence = (across - along) / (across + along);
        if (coherence * coherence < kLeastCoherence) return step;
        // The eigenvector of the larger eigenvalue points across the edge.
        cv::Point2f normal(b, across - a);
        if (std::abs(normal.x) + std::abs(normal.y) <= 0.0f)
            normal = a >= c ? cv::Point2f(1, 0) : cv::Point2f(0, 1);
        const cv::Point2f tangent(-normal.y, normal.x);
        step.along = tangent * (1.0f / std::max(std::abs(tangent.x), std::abs(tangent.y)));
        step.contrast = 2.0f * std::sqrt(across);
        return step;
    }

  private:
    cv::Mat xx_, xy_, yy_;
};

float squaredLength(const cv::Vec3f& v) {
    return v.dot(v);
}

bool mixedSurface(const cv::Vec3f& normal) {
    const float length = squaredLength(normal);
    return length > kLeastSurfaceNormal && length < kMostMixed;
}

// How far a pixel's display value strays from the middle of the two places
// beside it along the edge, relative to the contrast across the edge.
float raggedness(const cv::Mat& display, cv::Point2f at, const EdgeStep& step) {
    const cv::Vec3f middle =
        0.5f * (bilinearRead(display, at + step.along) + bilinearRead(display, at - step.along));
    return std::sqrt(squaredLength(display.at<cv::Vec3f>(cvRound(at.y), cvRound(at.x)) - middle)) /
           step.contrast;
}

// A pixel on an edge with one direction, its step along it and how ragged
// it is there.
struct EdgePixel {
    cv::Point2f at;
    EdgeStep step;
    float raggedness;
};

}  // namespace

cv::Mat smoothAntiAliasedEdges(const cv::Mat& image, const cv::Mat& normals) {
    CV_Assert(image.type() == CV_32FC3 && normals.type() == CV_32FC3 &&
              image.size() == normals.size());
    bool anyMixed = false;
    for (int y = 0; y < normals.rows && !anyMixed; ++y) {
        const auto* row = normals.ptr<cv::Vec3f>(y);
        for (int x = 0; x < normals.cols && !anyMixed; ++x) anyMixed = mixedSurface(row[x]);
    }
    if (!anyMixed) return image.clone();  // features at pixel centres: no mixtures
    const cv::Mat display = displayed(image);
    const EdgeDirections directions(display);
    std::vector<std::vector<EdgePixel>> rowEdges(static_cast<size_t>(image.rows));
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            for (int x = 0; x < image.cols; ++x) {
                if (!mixedSurface(normals.at<cv::Vec3f>(y, x))) continue;
                const EdgeStep step = directions.at(y, x);
                if (!(step.contrast > 0.0f)) continue;
                const cv::Point2f at{float(x), float(y)};
                rowEdges[static_cast<size_t>(y)].push_back(
                    {at, step, raggedness(display, at, step)});
            }
        }
    });
    std::vector<float> all;
    for (const std::vector<EdgePixel>& row : rowEdges) {
        for (const EdgePixel& edge : row) all.push_back(edge.raggedness);
    }
    const float typical = medianInPlace(all);
    cv::Mat result = image.clone();
    const float strength =
        std::min(1.0f, (typical - kLeastRaggedness) / (kFullRaggedness - kLeastRaggedness));
    if (!(strength > 0.0f)) return result;  // smooth edges: many samples a pixel

    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            for (const EdgePixel& edge : rowEdges[static_cast<size_t>(y)]) {
                const cv::Point pixel(int(edge.at.x), y);
                const cv::Vec3f& own = display.at<cv::Vec3f>(pixel);
                const float tolerance = kAgreement * typical * edge.step.contrast;
                const float inverse = 1.0f / (2.0f * tolerance * tolerance);
                const cv::Vec3f& value = image.at<cv::Vec3f>(pixel);
                cv::Vec3f sum = value;
                float weights = 1.0f;
                for (const cv::Point2f place :
                     {edge.at + edge.step.along, edge.at - edge.step.along}) {
                    const float weight =
                        std::exp(-squaredLength(bilinearRead(display, place) - own) * inverse);
                    sum += weight * bilinearRead(image, place);
                    weights += weight;
                }
                result.at<cv::Vec3f>(pixel) = value + strength * (sum * (1.0f / weights) - value);
            }
        }
    });
    return result;
}

}  // namespace filtering
