#include "scene_motion.h"

#include <cmath>
#include <numbers>

namespace sample_frame {

namespace {

// Frames per back-and-forth cycle and how far each part goes.
constexpr int kBallPeriod = 64, kCameraPeriod = 96;
constexpr float kBallTravel = 0.15f;   // either side of its place
constexpr float kCameraSway = 0.4f;    // either side, across the view
constexpr float kCameraDolly = 0.15f;  // half the way in, towards the view

// The phase of a cycle at a frame: 0 at frame 1.
float phase(int frame, int period) {
    return 2 * std::numbers::pi_v<float> * static_cast<float>(frame - 1) /
           static_cast<float>(period);
}

void rollBall(Sphere& ball, int frame) {
    const float travel = kBallTravel * std::sin(phase(frame, kBallPeriod));
    ball.centre = ball.centre + Vector3(travel, 0, 0);
    // Rolling without slipping towards +x turns it clockwise seen from +z.
    ball.roll = -travel / ball.radius;
}

void moveCamera(Camera& camera, int frame) {
    const Vector3 view = camera.target - camera.position;
    const Vector3 forward = normalize(Vector3(view.x, 0, view.z));
    const Vector3 right = normalize(cross(forward, camera.up));
    const float angle = phase(frame, kCameraPeriod);
    // Only ever forward from the still position, which may be near a wall behind.
    camera.position = camera.position + right * (kCameraSway * std::sin(angle)) +
                      forward * (kCameraDolly * (1 - std::cos(angle)));
}

}  // namespace

std::optional<Motion> parseMotion(std::string_view name) {
    if (name == "dolly") {
        return Motion::Dolly;
    }
    if (name == "static") {
        return Motion::Static;
    }
    return std::nullopt;
}

Scene sceneAtFrame(const Scene& still, int frame, Motion motion) {
    Scene scene = still;
    rollBall(scene.spheres[kRollingSphere], frame);
    if (motion == Motion::Dolly) {
        moveCamera(scene.camera, frame);
    }
    return scene;
}

}  // namespace sample_frame
