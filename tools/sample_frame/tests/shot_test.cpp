#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "frame_files.h"
#include "frame_renderer.h"
#include "scene_motion.h"

using namespace sample_frame;

namespace {

/// The closest point of an axis-aligned box to `point`.
Vector3 closestPointOf(const Box& box, const Vector3& point) {
    return {std::clamp(point.x, box.low.x, box.high.x), std::clamp(point.y, box.low.y, box.high.y),
            std::clamp(point.z, box.low.z, box.high.z)};
}

/// The ball must stay on the floor, inside the walls and clear of every
/// other object, a small step from where it was.
void expectBallFreeOnTheFloor(const Scene& scene, const Vector3& before, int frame) {
    const Sphere& ball = scene.spheres[kRollingSphere];
    const Quad& floor = scene.quads[0];
    const Vector3 far = floor.corner + floor.edgeU + floor.edgeV;
    EXPECT_FLOAT_EQ(ball.centre.y, ball.radius) << "frame " << frame;
    EXPECT_GT(ball.centre.x - ball.radius, floor.corner.x) << "frame " << frame;
    EXPECT_LT(ball.centre.x + ball.radius, far.x) << "frame " << frame;
    for (const Box& box : scene.boxes) {
        EXPECT_GT(length(closestPointOf(box, ball.centre) - ball.centre), ball.radius)
            << "frame " << frame;
    }
    for (size_t i = 0; i < scene.spheres.size(); ++i) {
        const Sphere& other = scene.spheres[i];
        if (static_cast<int>(i) != kRollingSphere) {
            EXPECT_GT(length(other.centre - ball.centre), other.radius + ball.radius)
                << "frame " << frame;
        }
    }
    const float step = length(ball.centre - before);
    EXPECT_GT(step, 0.0f) << "frame " << frame;
    EXPECT_LT(step, 0.03f) << "frame " << frame;
}

TEST(SceneMotion, ShotsStayInsideTheirRoomAndMoveALittleEachFrame) {
    for (const Scene& still : {Scene::room(), Scene::gallery(), Scene::yard()}) {
        ASSERT_GT(still.materials[still.spheres[kRollingSphere].material].checkerScale, 0)
            << "the ball that rolls shows it by its checker";
        const Quad& floor = still.quads[0];
        const Vector3 far = floor.corner + floor.edgeU + floor.edgeV;
        for (const Motion motion : {Motion::Dolly, Motion::Static}) {
            const Scene first = sceneAtFrame(still, 1, motion);
            EXPECT_EQ(first.camera.position.z, still.camera.position.z);
            EXPECT_EQ(first.spheres[kRollingSphere].centre.x,
                      still.spheres[kRollingSphere].centre.x);
            Scene previous = first;
            for (int frame = 2; frame <= 200; ++frame) {
                const Scene scene = sceneAtFrame(still, frame, motion);
                expectBallFreeOnTheFloor(scene, previous.spheres[kRollingSphere].centre, frame);
                const Vector3 camera = scene.camera.position;
                EXPECT_EQ(scene.camera.target.z, still.camera.target.z);
                EXPECT_EQ(camera.y, still.camera.position.y);
                EXPECT_GT(camera.x, floor.corner.x + 0.1f) << "frame " << frame;
                EXPECT_LT(camera.x, far.x - 0.1f) << "frame " << frame;
                EXPECT_GT(camera.z, floor.corner.z + 0.1f) << "frame " << frame;
                EXPECT_LT(camera.z, far.z - 0.1f) << "frame " << frame;
                const float step = length(camera - previous.camera.position);
                if (motion == Motion::Static) {
                    EXPECT_EQ(step, 0.0f) << "frame " << frame;
                } else {
                    EXPECT_GT(step, 0.0f) << "frame " << frame;
                    EXPECT_LT(step, 0.05f) << "frame " << frame;
                }
                previous = scene;
            }
        }
    }
}

TEST(SceneMotion, BallRollsWithoutSlipping) {
    // A point of the ball's surface at frame 1 is, at a later frame, turned
    // about z by the distance rolled over the radius, clockwise seen from +z
    // when it rolls towards +x; the texture must go with it.
    const Scene room = Scene::room();
    const Vector3 body(0.6f, 0.48f, 0.64f);  // unit, away from the texture's seam
    const Sphere& start = room.spheres[kRollingSphere];
    for (int frame : {5, 30, 40}) {
        const Sphere ball = sceneAtFrame(room, frame, Motion::Static).spheres[kRollingSphere];
        const float angle = -(ball.centre.x - start.centre.x) / ball.radius;
        ASSERT_GT(std::fabs(angle), 0.05f) << "frame " << frame;
        const Vector3 turned(std::cos(angle) * body.x - std::sin(angle) * body.y,
                             std::sin(angle) * body.x + std::cos(angle) * body.y, body.z);
        Scene alone, aloneFirst;
        alone.spheres = {ball};
        aloneFirst.spheres = {start};
        // Rays straight at the surface point from just outside it.
        const auto then = aloneFirst.intersect({start.centre + body * 2.0f, -body}, INFINITY);
        const auto now = alone.intersect({ball.centre + turned * 2.0f, -turned}, INFINITY);
        ASSERT_TRUE(then && now);
        EXPECT_NEAR(now->u, then->u, 1e-4f) << "frame " << frame;
        EXPECT_NEAR(now->v, then->v, 1e-4f) << "frame " << frame;
    }
}

TEST(ShotFrames, EachFrameHasItsOwnSeedAndFolder) {
    std::unordered_set<uint64_t> seeds;
    for (uint64_t seed = 0; seed < 10; ++seed) {
        for (int frame = 1; frame <= 1000; ++frame) {
            seeds.insert(frameSeed(seed, frame));
        }
    }
    EXPECT_EQ(seeds.size(), 10000u);
    EXPECT_EQ(shotFrameRoot("shot", 7), "shot/f0007");
    EXPECT_EQ(shotFrameRoot("shot/", 7), "shot/f0007");
    EXPECT_EQ(shotFrameRoot("shot", 12345), "shot/f12345");
}

TEST(ShotFrames, StaticShotChangesOnlyWhereTheBallIsAndNoiseEverywhere) {
    const Scene room = Scene::room();
    const int width = 32, height = 24;
    const Scene scenes[] = {sceneAtFrame(room, 1, Motion::Static),
                            sceneAtFrame(room, 9, Motion::Static)};
    const FrameLayers first = renderLayers(scenes[0], {width, height, 1, frameSeed(3, 1), 1});
    const FrameLayers later = renderLayers(scenes[1], {width, height, 1, frameSeed(3, 9), 1});
    const auto onBall = [](const Scene& scene, const Vector3& point) {
        const Sphere& ball = scene.spheres[kRollingSphere];
        return length(point - ball.centre) < ball.radius + 1e-3f;
    };
    int moved = 0, stillButNoisier = 0;
    for (size_t i = 0; i < first.positions.size(); ++i) {
        if (length(first.positions[i] - later.positions[i]) > 1e-6f) {
            ++moved;
            EXPECT_TRUE(onBall(scenes[0], first.positions[i]) ||
                        onBall(scenes[1], later.positions[i]))
                << "pixel " << i << " changed away from the ball";
        } else if (length(first.secondary[i] - later.secondary[i]) > 0) {
            ++stillButNoisier;
        }
    }
    EXPECT_GT(moved, 0) << "the ball must move";
    EXPECT_GT(stillButNoisier, width * height / 2) << "each frame draws its own noise";
}

}  // namespace
