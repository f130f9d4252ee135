// Anti-aliased edges evened out along their direction: a ball's outline
// against the sky, drawn from a few samples a pixel or exactly.
#include "quality_mode/edge_smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>

#include "synthetic_frame.h"

using namespace filtering;

namespace {

constexpr int kWidth = 64, kHeight = 48;
const cv::Vec3f kSky(0.9f, 0.8f, 0.7f), kGround(0.15f, 0.2f, 0.1f);
const cv::Vec3f kUp(0.0f, 1.0f, 0.0f);

// The share of pixel (x, y) inside a ball of radius `radius` in the middle
// of the frame (every slope of edge), from 16 x 16 points under the pixel's
// filter: a box, or a tent two pixels wide as renderers' wider filters
// (which soften edges).
float ballShare(int x, int y, float radius, bool tent) {
    const float reach = tent ? 1.0f : 0.5f;
    float inside = 0, total = 0;
    for (int j = 0; j < 16; ++j) {
        for (int i = 0; i < 16; ++i) {
            const float dx = reach * (2.0f * (float(i) + 0.5f) / 16.0f - 1.0f);
            const float dy = reach * (2.0f * (float(j) + 0.5f) / 16.0f - 1.0f);
            const float weight = tent ? (1.0f - std::abs(dx)) * (1.0f - std::abs(dy)) : 1.0f;
            const float px = float(x) + dx - 0.5f * kWidth, py = float(y) + dy - 0.5f * kHeight;
            inside += px * px + py * py < radius * radius ? weight : 0.0f;
            total += weight;
        }
    }
    return inside / total;
}

// A ball against the sky, each pixel the mean of `samples` jittered
// samples (0: the exact shares), as the image and the normals show it; and
// the image of the exact shares.
struct Ball {
    cv::Mat image, normals, exact;
};

Ball ball(float radius, int samples, bool tent, uint64_t seed) {
    Ball made{cv::Mat(kHeight, kWidth, CV_32FC3), cv::Mat(kHeight, kWidth, CV_32FC3),
              cv::Mat(kHeight, kWidth, CV_32FC3)};
    cv::RNG random(seed);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const float share = ballShare(x, y, radius, tent);
            float drawn = share;
            if (samples > 0) {
                int hits = 0;
                for (int s = 0; s < samples; ++s) hits += random.uniform(0.0f, 1.0f) < share;
                drawn = float(hits) / float(samples);
            }
            made.exact.at<cv::Vec3f>(y, x) = share * kGround + (1.0f - share) * kSky;
            made.image.at<cv::Vec3f>(y, x) = drawn * kGround + (1.0f - drawn) * kSky;
            made.normals.at<cv::Vec3f>(y, x) = drawn * kUp;
        }
    }
    return made;
}

double rmsOver(const cv::Mat& a, const cv::Mat& b, const cv::Mat& mask) {
    return cv::norm(a, b, cv::NORM_L2, mask) / std::sqrt(3.0 * cv::countNonZero(mask));
}

cv::Mat mixedPixels(const cv::Mat& normals) {
    cv::Mat lengths;
    cv::transform(normals.mul(normals), lengths, cv::Matx13f(1, 1, 1));
    return (lengths > 0.25f) & (lengths < 0.98f);
}

}  // namespace

TEST(EdgeSmoothing, RaggedEdgesComeCloserToTheirTrueSharesAndNothingElseChanges) {
    for (const bool tent : {false, true}) {
        for (const float radius : {12.0f, 20.0f}) {
            const Ball made = ball(radius, 8, tent, 21);
            const cv::Mat smoothed = smoothAntiAliasedEdges(made.image, made.normals);
            const cv::Mat mixed = mixedPixels(made.normals);
            ASSERT_GT(cv::countNonZero(mixed), 15) << radius;
            EXPECT_LT(rmsOver(smoothed, made.exact, mixed),
                      0.8 * rmsOver(made.image, made.exact, mixed))
                << "radius " << radius << (tent ? ", tent" : ", box");
            // Whole surfaces and the background are left bit for bit.
            EXPECT_EQ(cv::norm(smoothed, made.image, cv::NORM_INF, ~mixed), 0.0) << radius;
        }
    }
}

TEST(EdgeSmoothing, EdgesOfManySamplesAreChangedLittle) {
    // The exact shares: not ragged, and evening them out can only blur
    // them. Under a renderer's wider pixel filter the edge is soft and
    // changes by an eighth of what eight samples a pixel make of it or
    // less; under a box filter alone a hard edge read between pixels looks
    // ragged by itself, and changes by under half of it.
    for (const bool tent : {true, false}) {
        const Ball exact = ball(20.0f, 0, tent, 1), drawn = ball(20.0f, 8, tent, 1);
        const cv::Mat mixed = mixedPixels(exact.normals);
        ASSERT_GT(cv::countNonZero(mixed), 30);
        const double change =
            rmsOver(smoothAntiAliasedEdges(exact.image, exact.normals), exact.exact, mixed);
        const double ragged = rmsOver(drawn.image, drawn.exact, mixedPixels(drawn.normals));
        EXPECT_LT(change, (tent ? 0.125 : 0.5) * ragged) << (tent ? "tent" : "box");
    }
    // Features at pixel centres hold no mixtures: nothing changes at all.
    const Ball centres = ball(20.0f, 1, false, 3);
    EXPECT_TRUE(
        bitIdentical(smoothAntiAliasedEdges(centres.image, centres.normals), centres.image));
}
