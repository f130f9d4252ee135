// --temporal: the window of frames around each frame, the search for each
// surface in the neighbouring frames, the averaging that must not ghost,
// and the program's shot runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "frame_io/layer_files.h"
#include "program/program_options.h"
#include "program_run.h"
#include "synthetic_frame.h"
#include "temporal/reprojection.h"
#include "temporal/temporal_accumulation.h"
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
    EXPECT_TRUE(bitIdentical(fromStill[Rest], fromStill[Primary]));
    EXPECT_FALSE(bitIdentical(fromStill[Rest], frame[Rest]));
    EXPECT_TRUE(bitIdentical(fromMoved[Rest], frame[Rest]));
    EXPECT_FALSE(bitIdentical(fromMoved[Primary], frame[Primary]));
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
    // Each pixel took its neighbour's rest or not; its glossy light with it.
    const cv::Mat pairRest = (frames[0][Rest] + frames[1][Rest]) / 2;
    const cv::Mat pairGlossy = (frames[0].glossyLight + frames[1].glossyLight) / 2;
    int taken = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            const cv::Vec3f rest = averaged[Rest].at<cv::Vec3f>(y, x);
            const bool fromPair = cv::norm(rest - pairRest.at<cv::Vec3f>(y, x)) < 1e-6;
            const cv::Mat& expected = fromPair ? pairGlossy : frames[0].glossyLight;
            EXPECT_LT(
                cv::norm(averaged.glossyLight.at<cv::Vec3f>(y, x) - expected.at<cv::Vec3f>(y, x)),
                1e-6)
                << x << ", " << y;
            taken += fromPair ? 1 : 0;
        }
    }
    EXPECT_GT(taken, 64);
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

TEST(TemporalWindow, HoldsTheFramesAroundItsCentreReadingEachOnce) {
    std::map<int, int> reads;
    // Frames 1..6 exist; each frame's range sigma names it.
    TemporalWindow window(2, [&reads](int n) -> std::shared_ptr<const ExrFrame> {
        ++reads[n];
        if (n < 1 || n > 6) return nullptr;
        auto loaded = std::make_shared<ExrFrame>();
        loaded->frame.settings.rangeSigma = float(n);
        return loaded;
    });
    auto names = [&window] {
        std::vector<int> found;
        for (const Frame* frame : window.neighbours())
            found.push_back(int(frame->settings.rangeSigma));
        return found;
    };
    window.moveTo(1);  // the start of the shot: only later frames
    EXPECT_EQ(window.centre()->frame.settings.rangeSigma, 1.0f);
    EXPECT_EQ(names(), std::vector<int>({2, 3}));
    for (int frame = 2; frame <= 6; ++frame) {
        window.moveTo(frame);
        EXPECT_LE(window.held(), 5u);
    }
    EXPECT_EQ(names(), std::vector<int>({5, 4}));  // the end of the shot
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
    LayerShot() {
        for (int n = 1; n <= 3; ++n) {
            Frame frame = syntheticFrame(24, 16);
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
    LayerShot shot;
    for (const std::string mode : {"", "--quality "}) {
        for (int frame = 1; frame <= 3; ++frame) {
            EXPECT_EQ(shot.run(mode + "--frames 1-3", "today", frame),
                      shot.run(mode + "--frames 1-3 --temporal 0", "zero", frame))
                << mode << frame;
        }
        const std::vector<char> whole = shot.run(mode + "--frames 1-3 --temporal 1", "whole", 2);
        EXPECT_NE(whole, shot.run(mode + "--frames 1-3", "alone", 2));
        // A farm chunk of frame 2 alone reads frames 1 and 3 but writes neither.
        EXPECT_EQ(shot.run(mode + "--frames 2 --temporal 1", "chunk", 2), whole) << mode;
        EXPECT_FALSE(fs::exists(shot.path() / "chunk1.imagef4"));
        EXPECT_FALSE(fs::exists(shot.path() / "chunk3.imagef4"));
        fs::remove(shot.path() / "chunk2.imagef4");
    }
}

}  // namespace
