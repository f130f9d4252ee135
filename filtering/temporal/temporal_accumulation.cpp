#include "temporal/temporal_accumulation.h"

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <optional>

#include "temporal/camera_projection.h"
#include "temporal/local_light.h"

namespace filtering {

namespace {

// The rest (glossy light, emission) is as noisy and left unfiltered by
// both modes: averaging it over time is its only denoising.
constexpr Layer kLightLayers[] = {Primary, Secondary, Rest};
constexpr int kLightCount = 3;
constexpr int kRestIndex = 2;

float levelOf(const cv::Vec3f& v) {
    return v[0] + v[1] + v[2];
}

// The brightest and the next brightest sample added at each pixel, by
// level: what tells one frame's firefly from light that all frames share.
class BrightestTwo {
  public:
    explicit BrightestTwo(const cv::Mat& own)
        : first_(own.clone()), second_(own.size(), CV_32FC3, cv::Scalar::all(0)) {}

    void add(const cv::Vec3f& value, int y, int x) {
        cv::Vec3f& first = first_.at<cv::Vec3f>(y, x);
        cv::Vec3f& second = second_.at<cv::Vec3f>(y, x);
        if (levelOf(value) > levelOf(first)) {
            second = first;
            first = value;
        } else if (levelOf(value) > levelOf(second)) {
            second = value;
        }
    }

    // In `sums` of `counts` samples, three or more, the brightest counts as
    // the next brightest where it is more than `ratio` times as bright.
    void holdOutliers(cv::Mat& sums, const cv::Mat& counts, float ratio) const {
        sums.forEach<cv::Vec3f>([&](cv::Vec3f& sum, const int* at) {
            if (counts.at<float>(at[0], at[1]) < 3.0f) return;
            const cv::Vec3f& first = first_.at<cv::Vec3f>(at[0], at[1]);
            const cv::Vec3f& second = second_.at<cv::Vec3f>(at[0], at[1]);
            if (levelOf(first) > ratio * levelOf(second)) sum += second - first;
        });
    }

  private:
    cv::Mat first_, second_;
};

struct Sums {
    cv::Mat light;  // CV_32FC3
    cv::Mat count;  // CV_32F
    // With the rest, the glossy light it holds, taken where the rest is:
    // the quality mode filters it and puts it back into the rest.
    cv::Mat glossy;
};

class Accumulator {
  public:
    Accumulator(const Frame& frame, const TemporalLimits& limits)
        : frame_(frame),
          limits_(limits),
          restRange_(frame[Rest], limits.restClampRadius),
          restBrightest_(frame[Rest]) {
        for (int i = 0; i < kLightCount; ++i) {
            own_.emplace_back(frame[kLightLayers[i]], limits.boxRadius);
            sums_[i] = {frame[kLightLayers[i]].clone(),
                        cv::Mat(frame[Primary].size(), CV_32F, cv::Scalar(1.0f)), cv::Mat()};
        }
        if (!frame.glossyLight.empty()) {
            sums_[kRestIndex].glossy = frame.glossyLight.clone();
            glossyRange_.emplace(frame.glossyLight, limits.restClampRadius);
            glossyBrightest_.emplace(frame.glossyLight);
        }
    }

    void add(const Frame& neighbour) {
        const cv::Mat matches =
            findMatches(frame_, neighbour, limits_.match, landingPlaces(frame_, neighbour));
        for (int i = 0; i < kLightCount; ++i) {
            const cv::Mat& light = neighbour[kLightLayers[i]];
            const LocalLight theirs(light, limits_.boxRadius);
            cv::parallel_for_(cv::Range(0, matches.rows), [&](const cv::Range& rows) {
                for (int y = rows.start; y < rows.end; ++y) {
                    addRow(i, y, neighbour, matches, theirs);
                }
            });
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
            cv::Mat light = sums_[i].light;
            if (i == kRestIndex) {
                light = light.clone();
                restBrightest_.holdOutliers(light, sums_[i].count, limits_.restOutlierRatio);
            }
            averaged[kLightLayers[i]] = light / count;
            if (!sums_[i].glossy.empty()) {
                cv::Mat glossy = sums_[i].glossy.clone();
                glossyBrightest_->holdOutliers(glossy, sums_[i].count, limits_.restOutlierRatio);
                // New images: the copy still shares the frame's own.
                averaged.glossyLight = cv::Mat(glossy / count);
                averaged.glossyColor = frame_.glossyColor.clone();
            }
        }
        return averaged;
    }

  private:
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

    // The rest is held to the frame's own range around the point: a
    // neighbour's firefly, or a reflection that moved, is not averaged in.
    // Without the neighbour's glossy light the frame's own stands in for
    // it, so that it keeps its share of the rest.
    void addRow(int layer, int y, const Frame& neighbour, const cv::Mat& matches,
                const LocalLight& theirs) {
        const bool rest = layer == kRestIndex;
        const cv::Mat& light = neighbour[kLightLayers[layer]];
        const bool theirGlossy = neighbour.glossyLight.size() == frame_[Rest].size();
        Sums& sums = sums_[layer];
        const cv::Vec2i* row = matches.ptr<cv::Vec2i>(y);
        for (int x = 0; x < matches.cols; ++x) {
            const cv::Point q(row[x][0], row[x][1]);
            if (q.x < 0) continue;
            if (!own_[layer].agrees(theirs, {x, y}, q, limits_.lightDeviations,
                                    limits_.lightShare)) {
                continue;
            }
            if (rest && !viewAgrees(neighbour, y, x)) continue;
            const cv::Vec3f& value = light.at<cv::Vec3f>(q);
            sums.count.at<float>(y, x) += 1.0f;
            if (!rest) {
                sums.light.at<cv::Vec3f>(y, x) += value;
                continue;
            }
            const cv::Vec3f held = restRange_.clamped(value, {x, y});
            sums.light.at<cv::Vec3f>(y, x) += held;
            restBrightest_.add(held, y, x);
            if (!sums.glossy.empty()) {
                const cv::Vec3f glossy =
                    theirGlossy
                        ? glossyRange_->clamped(neighbour.glossyLight.at<cv::Vec3f>(q), {x, y})
                        : frame_.glossyLight.at<cv::Vec3f>(y, x);
                sums.glossy.at<cv::Vec3f>(y, x) += glossy;
                glossyBrightest_->add(glossy, y, x);
            }
        }
    }

    const Frame& frame_;
    const TemporalLimits& limits_;
    std::vector<LocalLight> own_;
    Sums sums_[kLightCount];
    LocalRange restRange_;
    std::optional<LocalRange> glossyRange_;
    BrightestTwo restBrightest_;
    std::optional<BrightestTwo> glossyBrightest_;
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
