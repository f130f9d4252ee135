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
    const Vector3 helper = std::fabs(normal.x) > 0.5f ? Vector3(0, 1, 0) : Vector3(1, 0, 0);
    const Vector3 tangent = normalize(cross(helper, normal));
    const Vector3 bitangent = cross(normal, tangent);
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

Vector3 PathTracer::radiance(Ray ray, Random& random, bool countEmission) const {
    Vector3 total, throughput(1, 1, 1);
    for (int bounce = 0; bounce < kMaxBounces; ++bounce) {
        const auto hit = scene.intersect(ray, INFINITY);
        if (!hit) {
            break;
        }
        const Material& material = scene.materialOf(*hit);
        if (material.kind == Material::Kind::Light) {
            // Emitters are reached by next-event estimation unless a mirror
            // was in the way.
            if (countEmission) {
                total += throughput * emittedTowards(material, *hit, ray.direction);
            }
            break;
        }
        const Vector3 normal = facingNormal(*hit, ray.direction);
        const Vector3 origin = hit->point + normal * kSurfaceOffset;
        if (material.kind == Material::Kind::Mirror) {
            throughput *= material.albedo;
            ray = Ray{origin, mirrorDirection(ray.direction, normal)};
            countEmission = true;
        } else {
            const Vector3 albedo = material.albedoAt(hit->u, hit->v);
            total += throughput * albedo * directIrradiance(hit->point, normal, random) / kPi;
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
    }
    return total;
}

LightSplit PathTracer::tracePath(const Ray& ray, Random& random) const {
    const auto hit = scene.intersect(ray, INFINITY);
    if (!hit) {
        return {};
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
    // Both diffuse parts are divided by the albedo, so the albedo factor of
    // the first bounce is left out rather than applied and divided away.
    const Vector3 normal = facingNormal(*hit, ray.direction);
    const Vector3 direct = directIrradiance(hit->point, normal, random) / kPi;
    const Ray bounce{hit->point + normal * kSurfaceOffset, cosineWeightedDirection(normal, random)};
    return {direct, radiance(bounce, random, false), {}};
}

}  // namespace sample_frame
