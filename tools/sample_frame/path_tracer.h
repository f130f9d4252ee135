#pragma once

#include "random.h"
#include "scene.h"

namespace sample_frame {

/// One path's light at a pixel, split the way the renderer saves it: at the
/// first diffuse surface, `direct` and `indirect` are the light arriving
/// directly from the emitter and after further bounces, each already divided
/// by that surface's albedo; `rest` is everything else (the emitter seen
/// directly, light seen in a mirror). The pixel's colour is
/// rest + albedo * (direct + indirect).
struct LightSplit {
    Vector3 direct, indirect, rest;
};

/// What the first surface of a pixel is, independent of light.
struct SurfaceRecord {
    Vector3 albedo, normal, position, texCoord;
};

/// Physically based path tracer over one scene: cosine-weighted diffuse
/// bounces, next-event estimation towards the area light, Russian roulette.
class PathTracer {
  public:
    explicit PathTracer(const Scene& scene) : scene(scene) {}

    /// The first surface along the ray; all zero where nothing is hit.
    SurfaceRecord surfaceAlong(const Ray& ray) const;

    /// One random path through the ray, split into its parts.
    LightSplit tracePath(const Ray& ray, Random& random) const;

    /// Light arriving from direction -ray.direction at ray.origin.
    Vector3 radiance(Ray ray, Random& random, bool countEmission) const;

    /// Irradiance from the area light at a point with unit normal.
    Vector3 directIrradiance(const Vector3& point, const Vector3& normal, Random& random) const;

  private:
    const Scene& scene;
};

}  // namespace sample_frame
