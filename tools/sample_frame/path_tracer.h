#pragma once

#include "random.h"
#include "scene.h"

namespace sample_frame {

/// One path's light at a pixel, split the way the renderer saves it: at the
/// first diffuse surface, `direct` and `indirect` are the light arriving
/// directly from the emitters (the sky among them) and after further
/// bounces, each already divided by that surface's albedo; `rest` is
/// everything else (an emitter or the sky seen directly, light seen in a
/// mirror). The pixel's colour is rest + albedo * (direct + indirect).
struct LightSplit {
    Vector3 direct, indirect, rest;
};

/// What the first surface of a pixel is, independent of light.
struct SurfaceRecord {
    Vector3 albedo, normal, position, texCoord;
};

/// Physically based path tracer over one scene: cosine-weighted diffuse
/// bounces, next-event estimation towards the area light and the sun,
/// Russian roulette. Rays that leave an open scene see its sky. Surfaces of
/// albedo 0 take no light samples and end their paths.
class PathTracer {
  public:
    explicit PathTracer(const Scene& scene) : scene(scene) {}

    /// The first surface along the ray; all zero where nothing is hit.
    SurfaceRecord surfaceAlong(const Ray& ray) const;

    /// One random path through the ray, split into its parts.
    LightSplit tracePath(const Ray& ray, Random& random) const;

    /// Light arriving from direction -ray.direction at ray.origin.
    Vector3 radiance(Ray ray, Random& random, bool countEmission) const;

    /// Irradiance from the area light and the sun at a point with unit normal.
    Vector3 directIrradiance(const Vector3& point, const Vector3& normal, Random& random) const;

  private:
    Vector3 areaLightIrradiance(const Vector3& point, const Vector3& normal, Random& random) const;
    Vector3 sunIrradiance(const Vector3& point, const Vector3& normal, Random& random) const;

    /// The sky along a ray that hits nothing, and the sun's disc when
    /// `countSun`: it is left out where a light sample already took it.
    Vector3 escapedLight(const Vector3& direction, bool countSun) const;

    /// radiance() of a ray whose first hit is known.
    Vector3 radianceFrom(Hit hit, Ray ray, Random& random, bool countEmission) const;

    const Scene& scene;
};

}  // namespace sample_frame
