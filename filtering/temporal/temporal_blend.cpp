#include "temporal/temporal_blend.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <vector>

#include "default_mode/pipeline.h"
#include "temporal/camera_projection.h"
#include "temporal/image_reads.h"
#include "temporal/local_light.h"
#include "temporal/motion_landing.h"

namespace filtering {

namespace {

// How far (in pixels, the median over the frame) a motion pass may place
// points from where the fitted camera does before it is not believed.
constexpr float kMotionCameraPixels = 0.5f;
const cv::Mat kNoMotion;

float meanOf(const cv::Vec3f& v) {
    return (v[0] + v[1] + v[2]) * (1.0f / 3.0f);
}

// v / (1 + its level): bright values come near 1 and a fraction of a lamp
// weighs no more than a fraction of a white wall. Undone by `expanded`.
cv::Mat compressed(const cv::Mat& image) {
    cv::Mat result(image.size(), CV_32FC3);
    image.forEach<cv::Vec3f>([&result](const cv::Vec3f& v, const int* at) {
        result.at<cv::Vec3f>(at[0], at[1]) = v * (1.0f / (1.0f + std::max(meanOf(v), 0.0f)));
    });
    return result;
}

cv::Vec3f expanded(const cv::Vec3f& v) {
    return v * (1.0f / std::max(1.0f - meanOf(v), 1e-6f));
}

// The local level of a frame's noisy beauty.
LocalLight localLight(const Frame& frame, int radius) {
    return LocalLight(frame[TexColor].mul(frame[Primary] + frame[Secondary]) + frame[Rest], radius);
}

class Blend {
  public:
    Blend(const DenoisedView& centre, const BlendLimits& limits)
        : centre_(centre),
          limits_(limits),
          own_(compressed(centre.image)),
          ownLight_(localLight(*centre.frame, limits.boxRadius)),
          ownRange_(own_, limits.clampRadius) {
        sum_ = own_.clone();
        count_ = cv::Mat(own_.size(), CV_32F, cv::Scalar(1.0f));
    }

    // `motion`: where the motion passes lead (motionLanding), or empty.
    void add(const DenoisedView& neighbour, const cv::Mat& motionIn) {
        const cv::Mat landing = landingPlaces(*centre_.frame, *neighbour.frame);
        const cv::Mat& motion = motionAgreesWithCamera(motionIn, landing) ? motionIn : kNoMotion;
        const cv::Mat matches =
            findMatches(*centre_.frame, *neighbour.frame, limits_.match, landing);
        const cv::Mat theirs = compressed(neighbour.image);
        const LocalLight theirLight = localLight(*neighbour.frame, limits_.boxRadius);
        const bool withMotion = !motion.empty(), withLanding = !landing.empty();
        cv::parallel_for_(cv::Range(0, matches.rows), [&](const cv::Range& rows) {
            for (int y = rows.start; y < rows.end; ++y) {
                for (int x = 0; x < matches.cols; ++x) {
                    if (!showsSurface(*centre_.frame, y, x)) continue;
                    const std::optional<cv::Point> moved =
                        withMotion ? motionMatch(*neighbour.frame, motion, y, x) : std::nullopt;
                    const cv::Vec2i found = matches.at<cv::Vec2i>(y, x);
                    const cv::Point q = moved ? *moved : cv::Point(found[0], found[1]);
                    if (q.x < 0) continue;
                    if (!ownLight_.agrees(theirLight, {x, y}, q, limits_.lightDeviations,
                                          limits_.lightShare)) {
                        continue;
                    }
                    const cv::Vec3f value =
                        moved ? read(theirs, *neighbour.frame, motionPlace(motion, y, x))
                              : sample(theirs, *neighbour.frame, withLanding, landing, y, x, q);
                    sum_.at<cv::Vec3f>(y, x) += ownRange_.clamped(value, {x, y});
                    count_.at<float>(y, x) += 1.0f;
                }
            }
        });
    }

    cv::Mat result() const {
        cv::Mat blended = centre_.image.clone();
        blended.forEach<cv::Vec3f>([this](cv::Vec3f& v, const int* at) {
            const float count = count_.at<float>(at[0], at[1]);
            if (count > 1.0f) v = expanded(sum_.at<cv::Vec3f>(at[0], at[1]) * (1.0f / count));
        });
        return blended;
    }

  private:
    // A motion pass written for a still scene (nothing animated: all
    // zeros) while the camera moved would match every pixel with itself.
    // The still parts of a scene go where the fitted camera says; most
    // pixels are still, so the median distance between the two places
    // tells a pass that does not describe this shot.
    bool motionAgreesWithCamera(const cv::Mat& motion, const cv::Mat& landing) const {
        if (motion.empty() || landing.empty()) return !motion.empty();
        std::vector<float> distances;
        const int stride = std::max(1, int(std::sqrt(double(motion.total()) / 16384.0)));
        for (int y = 0; y < motion.rows; y += stride) {
            for (int x = 0; x < motion.cols; x += stride) {
                const cv::Vec2f d = motion.at<cv::Vec2f>(y, x) - landing.at<cv::Vec2f>(y, x);
                const float distance = std::sqrt(d.dot(d));
                if (showsSurface(*centre_.frame, y, x) && std::isfinite(distance)) {
                    distances.push_back(distance);
                }
            }
        }
        if (distances.empty()) return true;
        auto middle = distances.begin() + distances.size() / 2;
        std::nth_element(distances.begin(), middle, distances.end());
        return *middle <= kMotionCameraPixels;
    }

    static cv::Point2f motionPlace(const cv::Mat& motion, int y, int x) {
        const cv::Vec2f& at = motion.at<cv::Vec2f>(y, x);
        return {at[0], at[1]};
    }

    // The neighbour's pixel where the motion (not empty) leads, when the
    // surface there is the point's: at the same distance from the camera,
    // not facing away.
    std::optional<cv::Point> motionMatch(const Frame& neighbour, const cv::Mat& motion, int y,
                                         int x) const {
        const std::optional<cv::Point> nearest =
            nearestPixel(motion.at<cv::Vec2f>(y, x), neighbour[Positions].size());
        if (!nearest) return std::nullopt;
        const cv::Point q = *nearest;
        if (!positionMeasured(neighbour, q.y, q.x)) return std::nullopt;
        const Frame& frame = *centre_.frame;
        const cv::Vec3f& n = frame[Normals].at<cv::Vec3f>(y, x);
        if (!showsSurface(neighbour, q.y, q.x) ||
            n.dot(neighbour[Normals].at<cv::Vec3f>(q)) < limits_.match.leastNormalDot) {
            return std::nullopt;
        }
        const cv::Vec3f& p = frame[Positions].at<cv::Vec3f>(y, x);
        const cv::Vec3f& o = neighbour[Positions].at<cv::Vec3f>(q);
        const float own = distanceToCamera(p[0], p[1], p[2], frame.camera);
        const float theirs = distanceToCamera(o[0], o[1], o[2], neighbour.camera);
        if (!(std::abs(theirs - own) <= limits_.motionDepthShare * own)) return std::nullopt;
        return q;
    }

    // The matched pixel's value, or, where the point lands within a pixel
    // of it, the value at that very place.
    cv::Vec3f sample(const cv::Mat& theirs, const Frame& neighbour, bool withLanding,
                     const cv::Mat& landing, int y, int x, cv::Point q) const {
        if (withLanding) {
            const cv::Vec2f at = landing.at<cv::Vec2f>(y, x);
            if (std::abs(at[0] - float(q.x)) <= 1.0f && std::abs(at[1] - float(q.y)) <= 1.0f) {
                return read(theirs, neighbour, cv::Point2f(at[0], at[1]));
            }
        }
        return theirs.at<cv::Vec3f>(q);
    }

    // The cubic read reaches two pixels out: across a silhouette it would
    // take in the sky's unfiltered noise, so there the bilinear one serves.
    cv::Vec3f read(const cv::Mat& theirs, const Frame& neighbour, cv::Point2f at) const {
        return limits_.cubicReads && surfacesAround(neighbour, at) ? cubicRead(theirs, at)
                                                                   : bilinearRead(theirs, at);
    }

    static bool surfacesAround(const Frame& frame, cv::Point2f at) {
        const cv::Size size = frame[Normals].size();
        const int x0 = int(std::floor(at.x)), y0 = int(std::floor(at.y));
        for (int y = y0 - 1; y <= y0 + 2; ++y) {
            for (int x = x0 - 1; x <= x0 + 2; ++x) {
                if (!showsSurface(frame, std::clamp(y, 0, size.height - 1),
                                  std::clamp(x, 0, size.width - 1))) {
                    return false;
                }
            }
        }
        return true;
    }

    const DenoisedView& centre_;
    const BlendLimits limits_;
    cv::Mat own_, sum_, count_;
    LocalLight ownLight_;
    LocalRange ownRange_;
};

}  // namespace

cv::Mat blendOverTime(const DenoisedView& centre, const std::vector<DenoisedView>& neighbours,
                      const BlendLimits& limits) {
    CV_Assert(centre.image.type() == CV_32FC3 &&
              centre.image.size() == (*centre.frame)[Positions].size());
    Blend blend(centre, limits);
    std::map<int, const Frame*> shot{{0, centre.frame}};
    for (const DenoisedView& neighbour : neighbours) shot[neighbour.offset] = neighbour.frame;
    for (const DenoisedView& neighbour : neighbours) {
        if (neighbour.image.size() == centre.image.size() &&
            (*neighbour.frame)[Positions].size() == centre.image.size()) {
            blend.add(neighbour, motionLanding(shot, neighbour.offset));
        }
    }
    return blend.result();
}

}  // namespace filtering
