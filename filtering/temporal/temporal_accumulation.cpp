#include "temporal/temporal_accumulation.h"

#include <cmath>
#include <opencv2/imgproc.hpp>

namespace filtering {

namespace {

// The rest (glossy light, emission) is as noisy and left unfiltered by
// both modes: averaging it over time is its only denoising.
constexpr Layer kLightLayers[] = {Primary, Secondary, Rest};
constexpr int kLightCount = 3;
constexpr int kRestIndex = 2;

// The local mean and variance of a light layer's luminance.
struct LocalLight {
    cv::Mat mean, variance;
};

LocalLight localLight(const cv::Mat& light, int radius) {
    cv::Mat luminance;
    cv::transform(light, luminance, cv::Matx13f(1.0f / 3, 1.0f / 3, 1.0f / 3));
    const cv::Size box(2 * radius + 1, 2 * radius + 1);
    LocalLight local;
    cv::Mat squares;
    cv::boxFilter(luminance, local.mean, CV_32F, box, cv::Point(-1, -1), true, cv::BORDER_REFLECT);
    cv::boxFilter(luminance.mul(luminance), squares, CV_32F, box, cv::Point(-1, -1), true,
                  cv::BORDER_REFLECT);
    local.variance = cv::max(squares - local.mean.mul(local.mean), 0.0f);
    return local;
}

struct Sums {
    cv::Mat light;  // CV_32FC3
    cv::Mat count;  // CV_32F
    // With the rest, the glossy light it holds, taken where the rest is:
    // the quality mode filters it and puts it back into the rest.
    cv::Mat glossy;
};

class Accumulator {
  public:
    Accumulator(const Frame& frame, const TemporalLimits& limits) : frame_(frame), limits_(limits) {
        const float boxPixels = float((2 * limits.boxRadius + 1) * (2 * limits.boxRadius + 1));
        inverseBox_ = 1.0f / boxPixels;
        for (int i = 0; i < kLightCount; ++i) {
            own_[i] = localLight(frame[kLightLayers[i]], limits.boxRadius);
            sums_[i] = {frame[kLightLayers[i]].clone(),
                        cv::Mat(frame[Primary].size(), CV_32F, cv::Scalar(1.0f)), cv::Mat()};
        }
        if (!frame.glossyLight.empty()) {
            sums_[kRestIndex].glossy = frame.glossyLight.clone();
        }
    }

    void add(const Frame& neighbour) {
        const cv::Mat matches = findMatches(frame_, neighbour, limits_.match);
        for (int i = 0; i < kLightCount; ++i) {
            const Frame* viewFrom = kLightLayers[i] == Rest ? &neighbour : nullptr;
            const cv::Mat* glossy = i == kRestIndex && !sums_[i].glossy.empty() &&
                                            neighbour.glossyLight.size() == frame_[Rest].size()
                                        ? &neighbour.glossyLight
                                        : nullptr;
            addLayer(neighbour[kLightLayers[i]], glossy, matches, own_[i],
                     localLight(neighbour[kLightLayers[i]], limits_.boxRadius), viewFrom, sums_[i]);
        }
    }

    Frame result() const {
        // Private layers: the modes may reuse a layer's pixels, and this
        // frame is still a neighbour of the next ones.
        Frame averaged = frame_;
        for (cv::Mat& layer : averaged.layers) layer = layer.clone();
        for (int i = 0; i < kLightCount; ++i) {
            cv::Mat count;
            cv::merge(std::vector<cv::Mat>(3, sums_[i].count), count);
            averaged[kLightLayers[i]] = sums_[i].light / count;
            if (!sums_[i].glossy.empty()) {
                // A new image: the copy still shares the frame's own.
                averaged.glossyLight = cv::Mat(sums_[i].glossy / count);
                averaged.glossyColor = frame_.glossyColor.clone();
            }
        }
        return averaged;
    }

  private:
    bool lightAgrees(const LocalLight& own, const LocalLight& other, int y, int x,
                     cv::Point q) const {
        const float mean = own.mean.at<float>(y, x);
        const float difference = std::abs(other.mean.at<float>(q.y, q.x) - mean);
        const float spread = std::sqrt(
            (own.variance.at<float>(y, x) + other.variance.at<float>(q.y, q.x)) * inverseBox_);
        return difference <= limits_.lightDeviations * spread + limits_.lightShare * std::abs(mean);
    }

    // The rest holds glossy light, which changes with the direction the
    // point is seen from: it is taken only while that turned little.
    bool viewAgrees(const Frame& neighbour, int y, int x) const {
        const cv::Vec3f& p = frame_[Positions].at<cv::Vec3f>(y, x);
        const CameraPosition& a = frame_.camera;
        const CameraPosition& b = neighbour.camera;
        const cv::Vec3f toA(a.z - p[0], a.y - p[1], a.x - p[2]);
        const cv::Vec3f toB(b.z - p[0], b.y - p[1], b.x - p[2]);
        const float lengths = std::sqrt(toA.dot(toA) * toB.dot(toB));
        return toA.dot(toB) >= std::cos(limits_.restViewTurn) * lengths;
    }

    // Without the neighbour's glossy light (`glossy` null) the frame's own
    // stands in for it, so that it keeps its share of the rest.
    void addLayer(const cv::Mat& light, const cv::Mat* glossy, const cv::Mat& matches,
                  const LocalLight& own, const LocalLight& other, const Frame* viewFrom,
                  Sums& sums) const {
        for (int y = 0; y < matches.rows; ++y) {
            const cv::Vec2i* row = matches.ptr<cv::Vec2i>(y);
            for (int x = 0; x < matches.cols; ++x) {
                const cv::Point q(row[x][0], row[x][1]);
                if (q.x < 0 || !lightAgrees(own, other, y, x, q)) continue;
                if (viewFrom != nullptr && !viewAgrees(*viewFrom, y, x)) continue;
                sums.light.at<cv::Vec3f>(y, x) += light.at<cv::Vec3f>(q);
                sums.count.at<float>(y, x) += 1.0f;
                if (!sums.glossy.empty()) {
                    sums.glossy.at<cv::Vec3f>(y, x) += glossy != nullptr
                                                           ? glossy->at<cv::Vec3f>(q)
                                                           : frame_.glossyLight.at<cv::Vec3f>(y, x);
                }
            }
        }
    }

    const Frame& frame_;
    const TemporalLimits& limits_;
    float inverseBox_ = 1.0f;
    LocalLight own_[kLightCount];
    Sums sums_[kLightCount];
};

}  // namespace

Frame accumulateOverTime(const Frame& frame, const std::vector<const Frame*>& neighbours,
                         const TemporalLimits& limits) {
    Accumulator accumulator(frame, limits);
    for (const Frame* neighbour : neighbours) {
        if (neighbour->layers[Primary].size() == frame[Primary].size()) accumulator.add(*neighbour);
    }
    return accumulator.result();
}

}  // namespace filtering
