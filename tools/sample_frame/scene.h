#pragma once

#include <optional>
#include <vector>

#include "sky.h"
#include "vector3.h"

namespace sample_frame {

/// How a surface scatters light. Diffuse surfaces may carry a checker
/// texture over their texture coordinates; lights are diffuse emitters.
struct Material {
    enum class Kind { Diffuse, Mirror, Light };
    Kind kind = Kind::Diffuse;
    Vector3 albedo;
    Vector3 checkerAlbedo;   // the second colour of the checker
    float checkerScale = 0;  // checker squares per texture unit; 0 for a plain colour
    Vector3 emission;

    Vector3 albedoAt(float u, float v) const;
};

/// Parallelogram corner + s * edgeU + t * edgeV, s and t in [0, 1]; faces
/// along cross(edgeU, edgeV).
struct Quad {
    Vector3 corner, edgeU, edgeV;
    int material = 0;
};

struct Sphere {
    Vector3 centre;
    float radius = 1;
    int material = 0;
    float roll = 0;  // turn about the z axis in radians: its texture turns as it rolls along x
};

/// Axis-aligned box.
struct Box {
    Vector3 low, high;
    int material = 0;
};

struct Hit {
    float distance = 0;
    Vector3 point;
    Vector3 normal;  // outward unit normal of the surface
    float u = 0, v = 0;
    int material = 0;
};

struct Camera {
    Vector3 position, target, up{0, 1, 0};
    float verticalFieldOfViewDegrees = 45;

    /// The ray through the centre of pixel (column, row), row 0 at the top.
    Ray primaryRay(int column, int row, int width, int height) const;

    /// The ray through point (x, y) of the image, in pixels from its top
    /// left corner: pixel (c, r) covers [c, c + 1) x [r, r + 1).
    Ray rayThrough(float x, float y, int width, int height) const;
};

class Scene {
  public:
    std::vector<Material> materials;
    std::vector<Quad> quads;
    std::vector<Sphere> spheres;
    std::vector<Box> boxes;
    int lightQuad = -1;  // the area light, an index into quads; -1 for none
    std::optional<Sun> sun;
    std::optional<Sky> sky;  // what rays that leave the scene see; closed scenes have none
    Camera camera;

    /// The nearest surface along the ray closer than `maxDistance`.
    std::optional<Hit> intersect(const Ray& ray, float maxDistance) const;
    bool visible(const Vector3& from, const Vector3& to) const;
    const Material& materialOf(const Hit& hit) const { return materials[hit.material]; }

    /// The closed room of every sample frame: coloured walls, a textured
    /// floor, a ceiling light, a box, a textured ball and a mirror ball.
    static Scene room();

    /// A wider hall whose light hangs behind a partition, so that most of it
    /// is lit indirectly: noisier frames than the room's.
    static Scene gallery();

    /// An open yard under a sky, lit by the sun: a paved ground, a black
    /// crate, a low wall, a pillar, a checkered ball and a ball of black and
    /// white squares, with the horizon in view.
    static Scene yard();
};

}  // namespace sample_frame
