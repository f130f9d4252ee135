#include "path_tracer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sample_frame {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kSurfaceOffset = 1e-4f;
constexpr int kMaxBounces = 24;
constexpr int kBouncesBeforeRoulette = 3;

/// The surface normal on the side the ray came from.
Vector3 facingNormal(const Hit& hit, const Vector3& direction) {
    return dot(hit.normal, direction) > 0 ? -hit.normal : hit.normal;
}

Vector3 cosineWeightedDirection(const Vector3& normal, Random& random) {
    Vector3 tangent, bitangent;
    orthonormalBasis(normal, tangent, bitangent);
    const float phi = 2 * kPi * random.uniform();
    const float r2 = random.uniform();
    const float radius = std::sqrt(r2);
    return normalize(tangent * (radius * std::cos(phi)) + bitangent * (radius * std::sin(phi)) +
                     normal * std::sqrt(std::max(0.0f, 1 - r2)));
}

Vector3 mirrorDirection(const Vector3& direction, const Vector3& normal) {
    return direction - normal * (2 * dot(direction, normal));
}

Vector3 emittedTowards(const Material& light, const Hit& hit, const Vector3& direction) {
    return dot(hit.normal, direction) < 0 ? light.emission : Vector3();
}

bool reflectsNothing(const Vector3& albedo) {
    return albedo.x == 0 && albedo.y == 0 && albedo.z == 0;
}

}  // namespace

SurfaceRecord PathTracer::surfaceAlong(const Ray& ray) const {
    const auto hit = scene.intersect(ray, INFINITY);
    if (!hit) {
        return {};
    }
    return {scene.materialOf(*hit).albedoAt(hit->u, hit->v), hit->normal, hit->point,
            Vector3(hit->u, hit->v, 0)};
}

Vector3 PathTracer::directIrradiance(const Vector3& point, const Vector3& normal,
                                     Random& random) const {
    Vector3 irradiance;
    if (scene.lightQuad >= 0) {
        irradiance = areaLightIrradiance(point, normal, random);
    }
    if (scene.sun) {
        irradiance += sunIrradiance(point, normal, random);
    }
    return irradiance;
}

Vector3 PathTracer::areaLightIrradiance(const Vector3& point, const Vector3& normal,
                                        Random& random) const {
    const Quad& light = scene.quads[scene.lightQuad];
    const Vector3 onLight =
        light.corner + light.edgeU * random.uniform() + light.edgeV * random.uniform();
    const Vector3 lightNormalTimesArea = cross(light.edgeU, light.edgeV);
    const Vector3 toLight = onLight - point;
    const float squaredDistance = dot(toLight, toLight);
    const float distance = std::sqrt(squaredDistance);
    const float cosSurface = dot(normal, toLight) / distance;
    const float cosLightTimesArea = -dot(lightNormalTimesArea, toLight) / distance;
    if (cosSurface <= 0 || cosLightTimesArea <= 0) {
        return {};
    }
    if (!scene.visible(point + normal * kSurfaceOffset, onLight)) {
        return {};
    }
    return scene.materials[light.material].emission *
           (cosSurface * cosLightTimesArea / squaredDistance);
}

Vector3 PathTracer::sunIrradiance(const Vector3& point, const Vector3& normal,
                                  Random& random) const {
    const Sun& sun = *scene.sun;
    const Vector3 towardsSun = sun.sampleDirection(random);
    const float cosSurface = dot(normal, towardsSun);
    if (cosSurface <= 0 ||
        scene.intersect(Ray{point + normal * kSurfaceOffset, towardsSun}, INFINITY)) {
        return {};
    }
    return sun.radiance() * (sun.solidAngle() * cosSurface);
}

Vector3 PathTracer::escapedLight(const Vector3& direction, bool countSun) const {
    Vector3 light;
    if (scene.sky) {
        light = scene.sky->radianceFrom(direction);
    }
    if (countSun && scene.sun && scene.sun->covers(direction)) {
        light += scene.sun->radiance();
    }
    return light;
}

Vector3 PathTracer::radiance(Ray ray, Random& random, bool countEmission) const {
    const auto hit = scene.intersect(ray, INFINITY);
    if (!hit) {
        return escapedLight(ray.direction, countEmission);
    }
    return radianceFrom(*hit, ray, random, countEmission);
}

Vector3 PathTracer::radianceFrom(Hit hit, Ray ray, Random& random, bool countEmission) const {
    Vector3 total, throughput(1, 1, 1);
    for (int bounce = 0;; ++bounce) {
        const Material& material = scene.materialOf(hit);
        if (material.kind == Material::Kind::Light) {
            // Emitters are reached by next-event estimation unless a mirror
            // was in the way.
            if (countEmission) {
                total += throughput * emittedTowards(material, hit, ray.direction);
            }
            break;
        }
        const Vector3 normal = facingNormal(hit, ray.direction);
        const Vector3 origin = hit.point + normal * kSurfaceOffset;
        if (material.kind == Material::Kind::Mirror) {
            throughput *= material.albedo;
            ray = Ray{origin, mirrorDirection(ray.direction, normal)};
            countEmission = true;
        } else {
            const Vector3 albedo = material.albedoAt(hit.u, hit.v);
            if (reflectsNothing(albedo)) {
                break;
            }
            total += throughput * albedo * directIrradiance(hit.point, normal, random) / kPi;
            throughput *= albedo;
            ray = Ray{origin, cosineWeightedDirection(normal, random)};
            countEmission = false;
        }
        if (bounce >= kBouncesBeforeRoulette) {
            const float survival = std::min(0.95f, throughput.maxComponent());
            if (random.uniform() >= survival) {
                break;
            }
            throughput = throughput / survival;
        }
        if (bounce + 1 == kMaxBounces) {
            break;
        }
        const auto next = scene.intersect(ray, INFINITY);
        if (!next) {
            total += throughput * escapedLight(ray.direction, countEmission);
            break;
        }
        hit = *next;
    }
    return total;
}

LightSplit PathTracer::tracePath(const Ray& ray, Random& random) const {
    const auto hit = scene.intersect(ray, INFINITY);
    if (!hit) {
        return {{}, {}, escapedLight(ray.direction, true)};
    }
    const Material& material = scene.materialOf(*hit);
    switch (material.kind) {
        case Material::Kind::Light:
            return {{}, {}, emittedTowards(material, *hit, ray.direction)};
        case Material::Kind::Mirror: {
            const Vector3 normal = facingNormal(*hit, ray.direction);
            const Ray reflected{hit->point + normal * kSurfaceOffset,
                                mirrorDirection(ray.direction, normal)};
            return {{}, {}, material.albedo * radiance(reflected, random, true)};
        }
        case Material::Kind::Diffuse:
            break;
    }
    // A surface that reflects nothing gets no light samples: its diffuse
    // light is written as 0, as renderers write it.
    if (reflectsNothing(material.albedoAt(hit->u, hit->v))) {
        return {};
    }
    // Both diffuse parts are divided by the albedo, so the albedo factor of
    // the first bounce is left out rather than applied and divided away.
    const Vector3 normal = facingNormal(*hit, ray.direction);
    const Vector3 direct = directIrradiance(hit->point, normal, random) / kPi;
    const Ray bounce{hit->point + normal * kSurfaceOffset, cosineWeightedDirection(normal, random)};
    const auto next = scene.intersect(bounce, INFINITY);
    if (!next) {
        // The sky seen straight from the surface lights it directly, as any
        // emitter does; the sun came with the light sample.
        return {direct + escapedLight(bounce.direction, false), {}, {}};
    }
    return {direct, radianceFrom(*next, bounce, random, false), {}};
}

}  // namespace sample_frame
