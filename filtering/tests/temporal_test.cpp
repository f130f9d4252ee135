// --temporal: the window of frames around each frame, the search for each
// surface in the neighbouring frames, the blending that must not ghost, and
// the program's shot runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "frame_io/layer_files.h"
#include "program/program_options.h"
#include "program_run.h"
#include "synthetic_frame.h"
#include "temporal/camera_projection.h"
#include "temporal/frame_sampling.h"
#include "temporal/reprojection.h"
#include "temporal/temporal_accumulation.h"
#include "temporal/temporal_blend.h"
#include "temporal/temporal_window.h"
#include "test_files.h"

namespace fs = std::filesystem;
using namespace filtering;

namespace {

// Background: a plane 10 units from the camera, grey, facing it, lit 0.2
// (primary) and 0.1 (secondary), with relative noise `noise`.
Frame planeFrame(int width, int height, float noise, uint64_t seed) {
    Frame frame;
    cv::RNG random(seed);
    for (cv::Mat& layer : frame.layers) layer.create(height, width, CV_32FC3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame[Positions].at<cv::Vec3f>(y, x) = {10.0f, 0.2f * float(y), 0.2f * float(x)};
            frame[Normals].at<cv::Vec3f>(y, x) = {1, 0, 0};
            frame[TexColor].at<cv::Vec3f>(y, x) = {0.5f, 0.5f, 0.5f};
            frame[Primary].at<cv::Vec3f>(y, x) =
                cv::Vec3f::all(0.2f * (1.0f + random.uniform(-noise, noise)));
            frame[Secondary].at<cv::Vec3f>(y, x) = cv::Vec3f::all(0.1f);
            frame[TexCoord].at<cv::Vec3f>(y, x) = {0, 0, 0};
            frame[Rest].at<cv::Vec3f>(y, x) = {0, 0, 0};
        }
    }
    return frame;
}

constexpr int kSquare = 4;

cv::Rect squareAt(int x) {
    return {x, 6, kSquare, kSquare};
}

// A square object halfway to the camera, lit 3.2, alike in normal and
// texture colour so that only its place in the world tells it apart.
void addObject(Frame& frame, int x0) {
    const cv::Rect square = squareAt(x0);
    for (int y = square.y; y < square.br().y; ++y) {
        for (int x = square.x; x < square.br().x; ++x) {
            frame[Positions].at<cv::Vec3f>(y, x) = {5.0f, 0.1f * float(y), 0.1f * float(x)};
            frame[Primary].at<cv::Vec3f>(y, x) = cv::Vec3f::all(3.2f);
        }
    }
}

// A spot of light on the plane: the same surface, in other light.
void addSpot(Frame& frame, int x0) {
    frame[Primary](squareAt(x0)).setTo(cv::Scalar::all(3.2f));
}

// Frames 0..4 of a square moving 6 pixels a frame; each denoised with the
// others as neighbours, as `--temporal 2` takes them for frame 2.
Frame averagedMiddle(void (*add)(Frame&, int), float noise) {
    std::vector<Frame> frames;
    for (int t = 0; t < 5; ++t) {
        frames.push_back(planeFrame(32, 16, noise, 100 + t));
        add(frames.back(), 2 + 6 * t);
    }
    std::vector<const Frame*> neighbours;
    for (int t : {1, 3, 0, 4}) neighbours.push_back(&frames[t]);
    return accumulateOverTime(frames[2], neighbours);
}

float primaryAt(const Frame& frame, int y, int x) {
    return frame[Primary].at<cv::Vec3f>(y, x)[0];
}

TEST(TemporalAccumulation, MovingSquaresLeaveNoGhost) {
    for (auto add : {addObject, addSpot}) {
        const Frame averaged = averagedMiddle(add, 0.3f);
        for (int t : {0, 1, 3, 4}) {
            const cv::Rect was = squareAt(2 + 6 * t);
            for (int y = was.y; y < was.br().y; ++y) {
                for (int x = was.x; x < was.br().x; ++x) {
                    EXPECT_NEAR(primaryAt(averaged, y, x), 0.2f, 0.07f) << t << " " << x;
                }
            }
        }
        const cv::Rect is = squareAt(14);
        EXPECT_EQ(cv::countNonZero(averaged[Primary](is).reshape(1) != 3.2f), 0);
    }
}

TEST(TemporalAccumulation, AveragesTheStillBackground) {
    const Frame single = planeFrame(32, 16, 0.3f, 100);
    const Frame averaged = averagedMiddle(addObject, 0.3f);
    const cv::Rect still(0, 0, 32, 5);  // above every square
    cv::Scalar mean, singleDeviation, averagedDeviation;
    cv::meanStdDev(single[Primary](still).reshape(1), mean, singleDeviation);
    cv::meanStdDev(averaged[Primary](still).reshape(1), mean, averagedDeviation);
    EXPECT_NEAR(mean[0], 0.2, 0.01);
    // Five frames: the deviation falls by about the square root of five.
    EXPECT_LT(averagedDeviation[0], 0.55 * singleDeviation[0]);
    EXPECT_TRUE(bitIdentical(averaged[Secondary], single[Secondary]));
}

TEST(TemporalAccumulation, TakesTheRestOnlyFromNearlyTheSameView) {
    Frame frame = planeFrame(16, 8, 0.3f, 1);
    Frame still = planeFrame(16, 8, 0.3f, 2);
    Frame moved = planeFrame(16, 8, 0.3f, 3);
    moved.camera = {0.0f, 1.0f, 0.0f};  // the plane seen 6 degrees aside
    for (Frame* each : {&frame, &still, &moved}) each->layers[Rest] = each->layers[Primary].clone();
    const Frame fromStill = accumulateOverTime(frame, {&still});
    const Frame fromMoved = accumulateOverTime(frame, {&moved});
    // From the same view the rest is averaged as the primary is, except
    // where the neighbour's lies outside the frame's own range around it.
    int likePrimary = 0, changed = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            const cv::Vec3f rest = fromStill[Rest].at<cv::Vec3f>(y, x);
            likePrimary += rest == fromStill[Primary].at<cv::Vec3f>(y, x) ? 1 : 0;
            changed += rest != frame[Rest].at<cv::Vec3f>(y, x) ? 1 : 0;
        }
    }
    EXPECT_GT(likePrimary, 64);
    EXPECT_GT(changed, 112);
    EXPECT_TRUE(bitIdentical(fromMoved[Rest], frame[Rest]));
    EXPECT_FALSE(bitIdentical(fromMoved[Primary], frame[Primary]));
}

TEST(TemporalAccumulation, AFireflyInTheRestIsNotAveragedIn) {
    Frame frames[4] = {planeFrame(16, 8, 0.0f, 1), planeFrame(16, 8, 0.0f, 2),
                       planeFrame(16, 8, 0.0f, 3), planeFrame(16, 8, 0.0f, 4)};
    cv::RNG random(3);
    for (Frame& each : frames) random.fill(each[Rest], cv::RNG::UNIFORM, 0.1f, 0.3f);
    Frame& frame = frames[0];
    // A neighbour's firefly: held to the frame's own range around the point.
    frames[1][Rest].at<cv::Vec3f>(4, 8) = cv::Vec3f::all(500.0f);
    const Frame averaged = accumulateOverTime(frame, {&frames[1]});
    double ownHighest = 0;
    cv::minMaxLoc(frame[Rest](cv::Rect(7, 3, 3, 3)).reshape(1), nullptr, &ownHighest);
    EXPECT_LE(averaged[Rest].at<cv::Vec3f>(4, 8)[0], ownHighest);
    // Elsewhere the two frames' rests are alike and averaged.
    EXPECT_GT(cv::norm(averaged[Rest](cv::Rect(0, 0, 4, 8)), frame[Rest](cv::Rect(0, 0, 4, 8)),
                       cv::NORM_INF),
              0.0);

    // The frame's own firefly, which its own range holds: among four
    // samples it counts as the next brightest. A bright spot all frames
    // share is no firefly and stays.
    frame[Rest].at<cv::Vec3f>(2, 3) = cv::Vec3f::all(500.0f);
    for (Frame& each : frames) each[Rest](cv::Rect(10, 2, 3, 3)).setTo(cv::Scalar::all(40.0f));
    const Frame held = accumulateOverTime(frame, {&frames[1], &frames[2], &frames[3]});
    EXPECT_LE(held[Rest].at<cv::Vec3f>(2, 3)[0], 0.3f);
    EXPECT_EQ(held[Rest].at<cv::Vec3f>(3, 11), cv::Vec3f::all(40.0f));
}

TEST(TemporalAccumulation, GlossyLightGoesWithTheRestThatHoldsIt) {
    // The rest is a remainder of 0.05 plus glossy colour x glossy light; the
    // glossy light must be averaged where the rest is, so that the rest
    // less its glossy share stays the remainder.
    Frame frames[3] = {planeFrame(16, 8, 0.3f, 4), planeFrame(16, 8, 0.3f, 5),
                       planeFrame(16, 8, 0.3f, 6)};
    frames[2].camera = {0.0f, 1.0f, 0.0f};  // too far turned for its rest
    cv::RNG random(7);
    for (Frame& frame : frames) {
        frame.glossyColor = cv::Mat(frame[Rest].size(), CV_32FC3, cv::Scalar::all(0.5));
        frame.glossyLight.create(frame[Rest].size(), CV_32FC3);
        random.fill(frame.glossyLight, cv::RNG::UNIFORM, 0.0f, 2.0f);
        frame[Rest] = 0.05f + frame.glossyColor.mul(frame.glossyLight);
    }
    const cv::Mat ownGlossy = frames[0].glossyLight.clone();
    const Frame averaged = accumulateOverTime(frames[0], {&frames[1], &frames[2]});
    EXPECT_TRUE(bitIdentical(frames[0].glossyLight, ownGlossy)) << "the frame itself changed";
    ASSERT_EQ(averaged.glossyLight.size(), frames[0][Rest].size());
    const cv::Mat remainder = averaged[Rest] - averaged.glossyColor.mul(averaged.glossyLight);
    EXPECT_LT(cv::norm(remainder - 0.05f, cv::NORM_INF), 1e-5);
    // Most pixels took their still neighbour's rest, and its glossy light
    // with it (the remainder above); the turned one gave none.
    const cv::Mat changed = averaged[Rest] != frames[0][Rest];
    EXPECT_GT(cv::countNonZero(changed.reshape(1)), 3 * 64);
    const Frame stillOnly = accumulateOverTime(frames[0], {&frames[1]});
    EXPECT_TRUE(bitIdentical(averaged[Rest], stillOnly[Rest]));
    EXPECT_TRUE(bitIdentical(averaged.glossyLight, stillOnly.glossyLight));
}

// What the filter would make of a frame: here its noisy beauty itself.
cv::Mat beautyOf(const Frame& frame) {
    return cv::Mat(frame[TexColor].mul(frame[Primary] + frame[Secondary]) + frame[Rest]);
}

// Frames 0..4 of a square moving 6 pixels a frame; the middle one's image
// blended with the others', as `--temporal 2` does for frame 2.
struct MovingSquareShot {
    std::vector<Frame> frames;
    std::vector<cv::Mat> images;
    cv::Mat blended;

    MovingSquareShot(void (*add)(Frame&, int), float noise) {
        for (int t = 0; t < 5; ++t) {
            frames.push_back(planeFrame(32, 16, noise, 100 + t));
            add(frames.back(), 2 + 6 * t);
            images.push_back(beautyOf(frames.back()));
        }
        std::vector<DenoisedView> neighbours;
        for (int t : {1, 3, 0, 4}) neighbours.push_back({&frames[t], images[t]});
        blended = blendOverTime({&frames[2], images[2]}, neighbours);
    }
    float at(int y, int x) const { return blended.at<cv::Vec3f>(y, x)[0]; }
};

TEST(TemporalBlend, MovingSquaresLeaveNoGhost) {
    for (auto add : {addObject, addSpot}) {
        const MovingSquareShot shot(add, 0.3f);
        for (int t : {0, 1, 3, 4}) {
            const cv::Rect was = squareAt(2 + 6 * t);
            for (int y = was.y; y < was.br().y; ++y) {
                for (int x = was.x; x < was.br().x; ++x) {
                    EXPECT_NEAR(shot.at(y, x), 0.15f, 0.04f) << t << " " << x;
                }
            }
        }
        // Where the square is now, no other frame shows it: it stays.
        const cv::Rect is = squareAt(14);
        for (int y = is.y; y < is.br().y; ++y) {
            for (int x = is.x; x < is.br().x; ++x) {
                EXPECT_NEAR(shot.at(y, x), 1.65f, 1e-5f) << x << ", " << y;
            }
        }
    }
}

TEST(TemporalBlend, AveragesTheStillBackgroundAndPassesTheSkyThrough) {
    const MovingSquareShot shot(addObject, 0.3f);
    const cv::Rect still(0, 0, 32, 5);  // above every square
    cv::Scalar mean, singleDeviation, blendedDeviation;
    cv::meanStdDev(shot.images[2](still).reshape(1), mean, singleDeviation);
    cv::meanStdDev(shot.blended(still).reshape(1), mean, blendedDeviation);
    EXPECT_NEAR(mean[0], 0.15, 0.005);
    EXPECT_LT(blendedDeviation[0], 0.6 * singleDeviation[0]);
    EXPECT_TRUE(bitIdentical(shot.images[2], beautyOf(shot.frames[2])))
        << "the frame's own image changed";

    // Pixels without a surface keep their value, whatever the others show.
    std::vector<Frame> frames = shot.frames;
    for (Frame& frame : frames) frame[Normals](still).setTo(cv::Scalar::all(0));
    const cv::Mat blended = blendOverTime(
        {&frames[2], shot.images[2]}, {{&frames[1], shot.images[1]}, {&frames[3], shot.images[3]}});
    EXPECT_TRUE(bitIdentical(blended(still), shot.images[2](still)));
}

TEST(TemporalBlend, FollowsAMovingObjectWhereTheFramesHaveMotion) {
    // The square moves 6 pixels a frame, too far for the search by position;
    // its light is noisy. Motion passes lead each point to its place.
    std::vector<Frame> frames;
    std::vector<cv::Mat> images;
    cv::RNG random(9);
    for (int t = 0; t < 5; ++t) {
        frames.push_back(planeFrame(32, 16, 0.3f, 200 + t));
        Frame& frame = frames.back();
        addObject(frame, 2 + 6 * t);
        const cv::Rect square = squareAt(2 + 6 * t);
        for (int y = square.y; y < square.br().y; ++y) {
            for (int x = square.x; x < square.br().x; ++x) {
                frame[Primary].at<cv::Vec3f>(y, x) *= 1.0f + random.uniform(-0.3f, 0.3f);
            }
        }
        frame.motion = cv::Mat(16, 32, CV_32FC4, cv::Scalar::all(0));
        frame.motion(square).setTo(cv::Scalar(-6, 0, 6, 0));
        images.push_back(beautyOf(frame));
    }
    auto blendMiddle = [&frames, &images] {
        std::vector<DenoisedView> neighbours;
        for (int t : {1, 3, 0, 4}) neighbours.push_back({&frames[t], images[t], t - 2});
        return blendOverTime({&frames[2], images[2], 0}, neighbours);
    };
    const cv::Mat followed = blendMiddle();
    const cv::Rect is = squareAt(14);
    int averaged = 0;
    for (int y = is.y; y < is.br().y; ++y) {
        for (int x = is.x; x < is.br().x; ++x) {
            averaged += followed.at<cv::Vec3f>(y, x) != images[2].at<cv::Vec3f>(y, x) ? 1 : 0;
        }
    }
    EXPECT_GE(averaged, 12);
    cv::Scalar mean, own, blended;
    cv::meanStdDev(images[2](is).reshape(1), mean, own);
    cv::meanStdDev(followed(is).reshape(1), mean, blended);
    EXPECT_LT(blended[0], 0.75 * own[0]);
    // Where the square was, the still plane behind it takes nothing of it.
    for (int t : {1, 3}) {
        const cv::Rect was = squareAt(2 + 6 * t);
        for (int y = was.y; y < was.br().y; ++y) {
            for (int x = was.x; x < was.br().x; ++x) {
                EXPECT_NEAR(followed.at<cv::Vec3f>(y, x)[0], 0.15f, 0.04f) << t << " " << x;
            }
        }
    }
    for (Frame& frame : frames) frame.motion.release();
    EXPECT_EQ(cv::norm(blendMiddle()(is), images[2](is), cv::NORM_INF), 0.0)
        << "found without the motion";
}

// A corner of two walls seen by a pinhole camera at the origin looking
// along +z, focal length `focal` pixels, its centre at `centre`: the
// positions each pixel sees, in working order (z, y, x).
Frame cornerFrame(int width, int height, float focal, cv::Point2f centre) {
    Frame frame = planeFrame(width, height, 0.0f, 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float dx = (float(x) - centre.x) / focal, dy = (float(y) - centre.y) / focal;
            // Back wall z = 10 on the left, a wall receding to the right.
            const float z = dx < 0 ? 10.0f : 10.0f / (1.0f + 0.8f * dx);
            frame[Positions].at<cv::Vec3f>(y, x) = {z, dy * z, dx * z};
            frame[Normals].at<cv::Vec3f>(y, x) =
                dx < 0 ? cv::Vec3f(-1, 0, 0) : cv::Vec3f(-0.78f, 0, -0.62f);
        }
    }
    return frame;
}

TEST(CameraProjection, PlacesPointsToAFractionOfAPixelOrFitsNothing) {
    const Frame corner = cornerFrame(48, 32, 40.0f, {23.3f, 15.6f});
    const std::optional<CameraProjection> projection = CameraProjection::fit(corner);
    ASSERT_TRUE(projection.has_value());
    for (const cv::Point pixel : {cv::Point(0, 0), cv::Point(20, 9), cv::Point(47, 31)}) {
        const auto at = projection->project(corner[Positions].at<cv::Vec3f>(pixel));
        ASSERT_TRUE(at.has_value());
        EXPECT_NEAR(at->x, pixel.x, 1e-3);
        EXPECT_NEAR(at->y, pixel.y, 1e-3);
    }
    EXPECT_FALSE(projection->project({-10.0f, 0.0f, 0.0f}).has_value()) << "behind the camera";
    // One plane leaves the projection undetermined; no surfaces, nothing to fit.
    EXPECT_FALSE(CameraProjection::fit(planeFrame(32, 16, 0.0f, 1)).has_value());
    Frame sky = corner;
    sky[Normals].setTo(cv::Scalar::all(0));
    EXPECT_FALSE(CameraProjection::fit(sky).has_value());
}

// Frames of the corner as the camera pans by 0.4 and 0.3 pixel, each with
// the image `paint` gives the x of its points.
struct PanningCorner {
    std::vector<Frame> frames;
    std::vector<cv::Mat> images;
    cv::Mat blended;

    explicit PanningCorner(float (*paint)(float x), const BlendLimits& limits = BlendLimits()) {
        for (const float shift : {0.0f, 0.4f, 0.3f}) {
            frames.push_back(cornerFrame(48, 32, 40.0f, {23.3f + shift, 15.6f}));
            cv::Mat image(32, 48, CV_32FC3);
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 48; ++x) {
                    const float px = frames.back()[Positions].at<cv::Vec3f>(y, x)[2];
                    image.at<cv::Vec3f>(y, x) = cv::Vec3f::all(paint(px));
                }
            }
            images.push_back(image);
        }
        blended = blendOverTime({&frames[0], images[0]},
                                {{&frames[1], images[1]}, {&frames[2], images[2]}}, limits);
    }
};

TEST(TemporalBlend, TakesTheNeighboursValueAtThePointItself) {
    // A gradient of the points' x: the blend is exact only if each neighbour
    // is read where the point lies, not at the nearest pixel.
    const PanningCorner corner([](float x) { return 0.5f + 0.02f * x; });
    // Away from the corner and the frame's edges, where bilinear reading is
    // exact on each wall.
    const cv::Rect inner(4, 4, 14, 24);
    const cv::Mat change = cv::abs(corner.blended(inner) - corner.images[0](inner));
    EXPECT_LT(cv::norm(change, cv::NORM_INF), 2e-4);
    EXPECT_GT(cv::countNonZero(cv::Mat(change > 0).reshape(1)), 0) << "no neighbour was taken";
}

TEST(TemporalBlend, CubicReadsKeepStripesThatBilinearReadsBlur) {
    // Stripes six pixels apart on the back wall, read 0.3 and 0.4 pixel
    // off the neighbours' pixels.
    const auto stripes = [](float x) { return 0.5f + 0.3f * std::sin(4.18879f * x); };
    BlendLimits cubic;
    cubic.cubicReads = true;
    const PanningCorner sharp(stripes, cubic), soft(stripes);
    const cv::Rect inner(4, 4, 14, 24);
    const double sharpError = cv::norm(sharp.blended(inner), sharp.images[0](inner), cv::NORM_L2);
    const double softError = cv::norm(soft.blended(inner), soft.images[0](inner), cv::NORM_L2);
    EXPECT_LT(sharpError, 0.4 * softError);
    EXPECT_GT(softError, 0.3) << "the stripes were not blurred: the test shows nothing";
}

TEST(TemporalBlend, ALampsEdgeDoesNotSpillOntoTheWallBesideIt) {
    // A lamp 400 times as bright as the wall on its left: the wall's last
    // column is read partly across the lamp's edge in both neighbours.
    const PanningCorner corner([](float x) { return x > -2.5f ? 200.0f : 0.5f; });
    int wallBesideLamp = 0;
    for (int x = 0; x < 20; ++x) {
        const float own = corner.images[0].at<cv::Vec3f>(16, x)[0];
        const float right = corner.images[0].at<cv::Vec3f>(16, x + 1)[0];
        if (own != 0.5f || right != 200.0f) continue;
        ++wallBesideLamp;
        EXPECT_LT(corner.blended.at<cv::Vec3f>(16, x)[0], 1.0f) << x;
    }
    EXPECT_EQ(wallBesideLamp, 1);
}

TEST(TemporalBlend, AMotionPassAtOddsWithTheCameraIsNotBelieved) {
    // A camera that pans with a motion pass of zeros (nothing was animated):
    // the blend is the same as without the pass.
    std::vector<Frame> frames;
    std::vector<cv::Mat> images;
    for (const float shift : {0.0f, 1.3f, 2.6f}) {
        frames.push_back(cornerFrame(48, 32, 40.0f, {23.3f + shift, 15.6f}));
        cv::RNG random(int(10 * shift) + 3);
        cv::Mat image(32, 48, CV_32FC3);
        random.fill(image, cv::RNG::UNIFORM, 0.2f, 0.8f);
        images.push_back(image);
    }
    auto blend = [&frames, &images] {
        return blendOverTime({&frames[0], images[0], 0},
                             {{&frames[1], images[1], 1}, {&frames[2], images[2], 2}});
    };
    const cv::Mat without = blend();
    for (Frame& frame : frames) frame.motion = cv::Mat(32, 48, CV_32FC4, cv::Scalar::all(0));
    EXPECT_TRUE(bitIdentical(blend(), without));
}

TEST(Reprojection, FollowsTheCameraAndRejectsDisocclusions) {
    // The camera pans: the neighbour sees the plane 2 pixels further left,
    // and an object there hides the columns 10..13 of the frame's plane.
    const Frame frame = planeFrame(32, 16, 0.0f, 1);
    Frame neighbour = planeFrame(32, 16, 0.0f, 2);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            neighbour[Positions].at<cv::Vec3f>(y, x) = {10.0f, 0.2f * float(y),
                                                        0.2f * float(x + 2)};
        }
    }
    addObject(neighbour, 8);  // covers the neighbour's columns 8..11
    const cv::Mat matches = findMatches(frame, neighbour);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            const cv::Vec2i match = matches.at<cv::Vec2i>(y, x);
            const bool hidden = y >= 6 && y < 10 && x >= 10 && x < 14;
            const bool outOfView = x < 2;
            if (hidden || outOfView) {
                EXPECT_EQ(match, cv::Vec2i(-1, -1)) << x << "," << y;
            } else {
                EXPECT_EQ(match, cv::Vec2i(x - 2, y)) << x << "," << y;
            }
        }
    }
}

TEST(Reprojection, NormalsAndTextureColourMustAgree) {
    const Frame frame = planeFrame(8, 8, 0.0f, 1);
    Frame turned = planeFrame(8, 8, 0.0f, 2);
    turned[Normals].setTo(cv::Scalar(0.9, 0.436, 0));
    Frame repainted = planeFrame(8, 8, 0.0f, 3);
    repainted[TexColor].setTo(cv::Scalar(0.5, 0.5, 0.56));
    for (const Frame* other : {&turned, &repainted}) {
        const cv::Mat matches = findMatches(frame, *other);
        std::vector<cv::Mat> coordinates;
        cv::split(matches, coordinates);
        EXPECT_EQ(cv::countNonZero(coordinates[0] >= 0), 0);
    }
    EXPECT_EQ(findMatches(frame, planeFrame(8, 8, 0.0f, 4)).at<cv::Vec2i>(3, 5), cv::Vec2i(5, 3));
}

TEST(Reprojection, ByPositionOnlyASurfaceFacingAwayIsRejectedByItsLook) {
    const Frame frame = planeFrame(8, 8, 0.0f, 1);
    Frame backside = planeFrame(8, 8, 0.0f, 2);
    backside[Normals].setTo(cv::Scalar(-1, 0, 0));
    const MatchLimits byPosition = MatchLimits::byPosition();
    std::vector<cv::Mat> coordinates;
    cv::split(findMatches(frame, backside, byPosition), coordinates);
    EXPECT_EQ(cv::countNonZero(coordinates[0] >= 0), 0);
    // A normal or texture colour mixed differently at an edge still matches.
    Frame edge = planeFrame(8, 8, 0.0f, 3);
    edge[Normals].setTo(cv::Scalar(0.6, 0.5, 0));
    edge[TexColor].setTo(cv::Scalar(0.5, 0.1, 0.9));
    EXPECT_EQ(findMatches(frame, edge, byPosition).at<cv::Vec2i>(3, 5), cv::Vec2i(5, 3));
}

TEST(TemporalWindow, HoldsTheFramesAroundItsCentreReadingEachOnce) {
    std::map<int, int> reads;
    // Frames 1..6 exist; each frame's range sigma names it.
    TemporalWindow window(2, [&reads](int n) -> std::shared_ptr<const WindowFrame> {
        ++reads[n];
        if (n < 1 || n > 6) return nullptr;
        auto held = std::make_shared<WindowFrame>();
        held->loaded.frame.settings.rangeSigma = float(n);
        return held;
    });
    auto names = [&window] {
        std::vector<int> found;
        for (const WindowFrame* held : window.neighbours())
            found.push_back(int(held->loaded.frame.settings.rangeSigma));
        return found;
    };
    // The start of the shot: as many frames, all later ones.
    window.moveTo(1);
    EXPECT_EQ(window.centre()->loaded.frame.settings.rangeSigma, 1.0f);
    EXPECT_EQ(names(), std::vector<int>({2, 3, 4, 5}));
    window.moveTo(2);
    EXPECT_EQ(names(), std::vector<int>({1, 3, 4, 5}));
    for (int frame = 3; frame <= 6; ++frame) {
        window.moveTo(frame);
        EXPECT_EQ(window.held(), 5u);
    }
    EXPECT_EQ(names(), std::vector<int>({5, 4, 3, 2}));  // the end of the shot
    for (const auto& [frame, count] : reads) EXPECT_EQ(count, 1) << frame;
    EXPECT_EQ(reads.size(), 10u);  // -1 .. 8

    window.moveTo(40);  // a jump lets every held frame go
    EXPECT_EQ(window.centre(), nullptr);
    EXPECT_TRUE(names().empty());
}

TEST(TemporalOptions, NeedsAShotAndAWholeNumber) {
    std::string error;
    EXPECT_FALSE(parseOptions({"--temporal", "2"}, error));
    EXPECT_NE(error.find("--frames"), std::string::npos);
    for (const char* bad : {"-1", "two", "1.5", "17"}) {
        error.clear();
        EXPECT_FALSE(parseOptions({"--root", "s/f##", "--frames", "1-3", "--temporal", bad}, error))
            << bad;
        EXPECT_NE(error.find("--temporal"), std::string::npos);
    }
    error.clear();
    const auto options =
        parseOptions({"--root", "s/f##", "--frames", "1-3", "--temporal", "2"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->temporal, 2);
    EXPECT_EQ(runFiltering("--temporal 1").status, 2);
}

// Frames 1..3 of the synthetic frame, each with its own noise, as layer files.
class LayerShot : public TemporaryFolder {
  public:
    // Anti-aliased: the normals of the top rows are mixtures, as a renderer
    // that spreads its samples over each pixel writes them at an edge.
    explicit LayerShot(bool antiAliased) {
        for (int n = 1; n <= 3; ++n) {
            Frame frame = syntheticFrame(24, 16);
            if (antiAliased) frame[Normals].rowRange(0, 3) *= 0.9;
            cv::RNG random(n);
            random.fill(frame[Secondary], cv::RNG::UNIFORM, 0.0f, 1.0f);
            char name[16];
            std::snprintf(name, sizeof name, "f%d", n);
            const FramePaths paths((path() / name).string());
            fs::create_directories(paths.inputFolder());
            for (int layer = 0; layer < LayerCount; ++layer) {
                EXPECT_TRUE(save_float4(paths.layer(Layer(layer)), frame.layers[layer]));
            }
            EXPECT_TRUE(writeCamera(paths.camera(), frame.camera));
            EXPECT_TRUE(writeSettings(paths.settings(), frame.settings));
        }
    }
    std::vector<char> run(const std::string& options, const std::string& out, int frame) {
        const ProgramRun run = runFiltering("--root '" + (path() / "f#").string() + "' --output '" +
                                            (path() / out).string() + "#.imagef4' " + options);
        EXPECT_EQ(run.status, 0) << run.output;
        return readBytes(path() / (out + std::to_string(frame) + ".imagef4"));
    }
};

TEST(TemporalProgram, ZeroIsTodaysResultAndAChunkReadsItsNeighbours) {
    for (const bool antiAliased : {false, true}) {
        LayerShot shot(antiAliased);
        for (const std::string mode : {"", "--quality "}) {
            for (int frame = 1; frame <= 3; ++frame) {
                EXPECT_EQ(shot.run(mode + "--frames 1-3", "today", frame),
                          shot.run(mode + "--frames 1-3 --temporal 0", "zero", frame))
                    << mode << frame;
            }
            const std::vector<char> whole =
                shot.run(mode + "--frames 1-3 --temporal 1", "whole", 2);
            EXPECT_NE(whole, shot.run(mode + "--frames 1-3", "alone", 2));
            // A farm chunk of frame 2 alone reads frames 1 and 3 but writes neither.
            EXPECT_EQ(shot.run(mode + "--frames 2 --temporal 1", "chunk", 2), whole) << mode;
            EXPECT_FALSE(fs::exists(shot.path() / "chunk1.imagef4"));
            EXPECT_FALSE(fs::exists(shot.path() / "chunk3.imagef4"));
            fs::remove(shot.path() / "chunk2.imagef4");
        }
    }
}

TEST(FrameSampling, AntiAliasedFeaturesAreToldByTheirMixedNormalsAlongEdges) {
    Frame frame = planeFrame(512, 256, 0.0f, 1);
    EXPECT_FALSE(hasAntiAliasedFeatures(frame));
    // One edge across the frame, its pixels' normals mixtures of two faces.
    const cv::Vec3f mixed = (cv::Vec3f(1, 0, 0) + cv::Vec3f(0, 1, 0)) * 0.5f;
    frame[Normals].row(100).setTo(cv::Scalar(mixed[0], mixed[1], mixed[2]));
    EXPECT_TRUE(hasAntiAliasedFeatures(frame));
    // A few stray short normals (a bump map, a repaired sample) are not edges.
    frame[Normals].row(100).setTo(cv::Scalar(1, 0, 0));
    frame[Normals].row(100).colRange(0, 20).setTo(cv::Scalar(mixed[0], mixed[1], mixed[2]));
    EXPECT_FALSE(hasAntiAliasedFeatures(frame));
    // The sky (no normal) is no edge either.
    frame[Normals].rowRange(0, 200).setTo(cv::Scalar::all(0));
    EXPECT_FALSE(hasAntiAliasedFeatures(frame));
}

}  // namespace
