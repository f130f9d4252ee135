#include "scene.h"

namespace sample_frame {

Scene Scene::gallery() {
    Scene scene;
    using Kind = Material::Kind;
    const int plaster = 0, ochre = 1, teal = 2, tiles = 3, light = 4, mirror = 5, ball = 6,
              slate = 7;
    scene.materials = {
        {Kind::Diffuse, {0.80f, 0.78f, 0.75f}, {}, 0, {}},
        {Kind::Diffuse, {0.72f, 0.52f, 0.18f}, {}, 0, {}},
        {Kind::Diffuse, {0.10f, 0.45f, 0.50f}, {}, 0, {}},
        {Kind::Diffuse, {0.70f, 0.70f, 0.70f}, {0.25f, 0.12f, 0.10f}, 10, {}},
        {Kind::Light, {0.78f, 0.78f, 0.78f}, {}, 0, {40.0f, 38.0f, 34.0f}},
        {Kind::Mirror, {0.90f, 0.90f, 0.90f}, {}, 0, {}},
        {Kind::Diffuse, {0.20f, 0.60f, 0.30f}, {0.85f, 0.85f, 0.80f}, 12, {}},
        {Kind::Diffuse, {0.30f, 0.30f, 0.35f}, {0.55f, 0.50f, 0.45f}, 4, {}},
    };
    // A wide hall x in [-1.6, 1.6], y in [0, 2.2], z in [-2.5, 3]; the light
    // hangs over its far left corner, behind a partition, so that most of
    // what the camera sees is lit only after several bounces.
    const float x0 = -1.6f, x1 = 1.6f, y0 = 0, y1 = 2.2f, z0 = -2.5f, z1 = 3;
    scene.quads = {
        {{x0, y0, z0}, {0, 0, z1 - z0}, {x1 - x0, 0, 0}, tiles},     // floor
        {{x0, y1, z0}, {x1 - x0, 0, 0}, {0, 0, z1 - z0}, plaster},   // ceiling
        {{x0, y0, z0}, {x1 - x0, 0, 0}, {0, y1 - y0, 0}, slate},     // far wall
        {{x0, y0, z1}, {0, y1 - y0, 0}, {x1 - x0, 0, 0}, plaster},   // behind the camera
        {{x0, y0, z0}, {0, y1 - y0, 0}, {0, 0, z1 - z0}, ochre},     // left wall
        {{x1, y0, z0}, {0, 0, z1 - z0}, {0, y1 - y0, 0}, teal},      // right wall
        {{-1.5f, 2.18f, -2.4f}, {1.2f, 0, 0}, {0, 0, 1.2f}, light},  // the light
    };
    scene.lightQuad = 6;
    scene.boxes = {
        {{-1.6f, 0.0f, -1.2f}, {-0.1f, 1.5f, -1.0f}, plaster},  // the partition
        {{0.5f, 0.0f, -1.6f}, {1.1f, 0.6f, -1.0f}, ochre},
        {{-0.9f, 0.0f, 0.4f}, {-0.5f, 0.9f, 0.8f}, slate},
    };
    scene.spheres = {
        {{0.2f, 0.4f, -0.2f}, 0.4f, ball},
        {{0.9f, 0.3f, 0.9f}, 0.3f, mirror},
        {{-0.3f, 0.2f, 1.4f}, 0.2f, ball},
    };
    scene.camera = Camera{{0.6f, 1.3f, 2.7f}, {-0.2f, 0.7f, -1.5f}, {0, 1, 0}, 55.0f};
    return scene;
}

}  // namespace sample_frame
