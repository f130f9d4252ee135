#include "temporal/reprojection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "default_mode/pipeline.h"
#include "temporal/camera_projection.h"

namespace filtering {

namespace {

float squaredDistance(const cv::Vec3f& a, const cv::Vec3f& b) {
    const cv::Vec3f d = a - b;
    return d.dot(d);
}

// The distance to the nearest of the four neighbouring positions: how far
// apart the frame samples this surface.
float footprint(const cv::Mat& positions, int y, int x) {
    const cv::Vec3f& p = positions.at<cv::Vec3f>(y, x);
    float nearest = std::numeric_limits<float>::infinity();
    const int steps[4][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};
    for (const auto& step : steps) {
        const int ny = y + step[0], nx = x + step[1];
        if (ny < 0 || nx < 0 || ny >= positions.rows || nx >= positions.cols) continue;
        nearest = std::min(nearest, squaredDistance(p, positions.at<cv::Vec3f>(ny, nx)));
    }
    return std::sqrt(nearest);
}

// Channel by channel: a texture edge changes one channel as much as all.
bool coloursAgree(const cv::Vec3f& a, const cv::Vec3f& b, float share) {
    for (int c = 0; c < 3; ++c) {
        const float size = std::max(std::abs(a[c]), std::abs(b[c]));
        if (std::abs(a[c] - b[c]) > share * size + 1e-4f) return false;
    }
    return true;
}

class Matcher {
  public:
    Matcher(const Frame& frame, const Frame& neighbour, const MatchLimits& limits,
            const cv::Mat& landing)
        : frame_(frame),
          neighbour_(neighbour),
          limits_(limits),
          landing_(landing),
          hasLanding_(!landing.empty()) {}

    // The nearest position among the pixels within `radius` of `centre`.
    void search(const cv::Vec3f& p, cv::Point centre, int radius, cv::Point& best,
                float& bestDistance) const {
        const cv::Mat& positions = neighbour_[Positions];
        const int y0 = std::max(0, centre.y - radius),
                  y1 = std::min(positions.rows - 1, centre.y + radius);
        const int x0 = std::max(0, centre.x - radius),
                  x1 = std::min(positions.cols - 1, centre.x + radius);
        for (int y = y0; y <= y1; ++y) {
            const cv::Vec3f* row = positions.ptr<cv::Vec3f>(y);
            for (int x = x0; x <= x1; ++x) {
                const float distance = squaredDistance(p, row[x]);
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = {x, y};
                }
            }
        }
    }

    bool accepted(int y, int x, cv::Point q, float squared) const {
        if (!positionMeasured(frame_, y, x) || !positionMeasured(neighbour_, q.y, q.x)) {
            return false;
        }
        const cv::Vec3f& p = frame_[Positions].at<cv::Vec3f>(y, x);
        const float toCamera = distanceToCamera(p[0], p[1], p[2], frame_.camera);
        const float limit = std::max(limits_.distanceShare * toCamera,
                                     limits_.footprintShare * footprint(frame_[Positions], y, x));
        if (!(squared <= limit * limit)) return false;
        const cv::Vec3f& n = frame_[Normals].at<cv::Vec3f>(y, x);
        if (n.dot(neighbour_[Normals].at<cv::Vec3f>(q.y, q.x)) < limits_.leastNormalDot)
            return false;
        return std::isinf(limits_.colourShare) ||
               coloursAgree(frame_[TexColor].at<cv::Vec3f>(y, x),
                            neighbour_[TexColor].at<cv::Vec3f>(q.y, q.x), limits_.colourShare);
    }

    // One row, left to right: each pixel also searches next to where its
    // left neighbour's surface went, which follows motions wider than the
    // search.
    void row(int y, cv::Vec2i* matches) const {
        const cv::Vec3f* positions = frame_[Positions].ptr<cv::Vec3f>(y);
        cv::Point left(-1, -1);
        for (int x = 0; x < frame_[Positions].cols; ++x) {
            cv::Point best(-1, -1);
            float squared = std::numeric_limits<float>::infinity();
            const std::optional<cv::Point> projected = landingPixel(y, x);
            if (projected) search(positions[x], *projected, 1, best, squared);
            bool found = best.x >= 0 && accepted(y, x, best, squared);
            if (!found) {
                search(positions[x], {x, y}, limits_.searchRadius, best, squared);
                if (left.x >= 0) search(positions[x], {left.x + 1, left.y}, 1, best, squared);
                found = best.x >= 0 && accepted(y, x, best, squared);
            }
            matches[x] = found ? cv::Vec2i(best.x, best.y) : cv::Vec2i(-1, -1);
            left = found ? best : cv::Point(-1, -1);
        }
    }

  private:
    // The neighbour's pixel nearest to where the point of pixel (x, y)
    // lands, when that is in its view.
    std::optional<cv::Point> landingPixel(int y, int x) const {
        if (!hasLanding_) return std::nullopt;
        return nearestPixel(landing_.at<cv::Vec2f>(y, x), neighbour_[Positions].size());
    }

    const Frame& frame_;
    const Frame& neighbour_;
    const MatchLimits& limits_;
    const cv::Mat& landing_;
    const bool hasLanding_;
};

}  // namespace

cv::Mat findMatches(const Frame& frame, const Frame& neighbour, const MatchLimits& limits,
                    const cv::Mat& landing) {
    CV_Assert(frame[Positions].size() == neighbour[Positions].size());
    cv::Mat matches(frame[Positions].size(), CV_32SC2);
    CV_Assert(landing.empty() ||
              (landing.type() == CV_32FC2 && landing.size() == frame[Positions].size()));
    const Matcher matcher(frame, neighbour, limits, landing);
    cv::parallel_for_(cv::Range(0, matches.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) matcher.row(y, matches.ptr<cv::Vec2i>(y));
    });
    return matches;
}

}  // namespace filtering
