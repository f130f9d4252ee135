#include "scene.h"

namespace sample_frame {

Scene Scene::yard() {
    Scene scene;
    using Kind = Material::Kind;
    const int paving = 0, black = 1, brick = 2, ball = 3, football = 4, blue = 5;
    scene.materials = {
        {Kind::Diffuse, {0.45f, 0.42f, 0.38f}, {0.34f, 0.33f, 0.30f}, 200, {}},
        {Kind::Diffuse, {0.0f, 0.0f, 0.0f}, {}, 0, {}},
        {Kind::Diffuse, {0.62f, 0.30f, 0.20f}, {}, 0, {}},
        {Kind::Diffuse, {0.85f, 0.25f, 0.15f}, {0.90f, 0.85f, 0.70f}, 8, {}},
        {Kind::Diffuse, {0.82f, 0.82f, 0.80f}, {0.0f, 0.0f, 0.0f}, 6, {}},
        {Kind::Diffuse, {0.20f, 0.35f, 0.65f}, {}, 0, {}},
    };
    // Ground 400 units wide, in 2-unit paving squares, facing up; far enough
    // that only a thin band of sky shows below the horizon.
    const float half = 200;
    scene.quads = {{{-half, 0, -half}, {0, 0, 2 * half}, {2 * half, 0, 0}, paving}};
    scene.boxes = {
        {{-1.6f, 0.0f, -0.8f}, {-0.6f, 0.9f, 0.2f}, black},  // the black crate
        {{-3.0f, 0.0f, -2.5f}, {2.5f, 1.0f, -2.2f}, brick},  // a low wall
        {{1.5f, 0.0f, -1.8f}, {2.1f, 2.2f, -1.2f}, blue},    // a pillar
    };
    // No mirror: it would show the tiny, bright sun as fireflies all around.
    scene.spheres = {
        {{0.9f, 0.45f, 0.6f}, 0.45f, ball},
        {{-0.2f, 0.3f, 1.8f}, 0.3f, football},
    };
    // The sun high over the left and behind the camera: shadows fall away
    // from it, to the right.
    scene.sun = Sun{normalize(Vector3(-0.55f, 0.7f, 0.45f)), 0.02f, {3.2f, 3.0f, 2.7f}};
    scene.sky = Sky{{0.75f, 0.82f, 0.90f}, {0.25f, 0.45f, 0.85f}};
    scene.camera = Camera{{0.0f, 1.6f, 6.0f}, {0.0f, 0.5f, 0.0f}, {0, 1, 0}, 50.0f};
    return scene;
}

}  // namespace sample_frame
