#include "scene.h"

#include <cmath>
#include <numbers>

namespace sample_frame {

namespace {

constexpr float kSelfHitEpsilon = 1e-4f;

std::optional<Hit> intersectQuad(const Quad& quad, const Ray& ray, float maxDistance) {
    const Vector3 normal = normalize(cross(quad.edgeU, quad.edgeV));
    const float facing = dot(normal, ray.direction);
    if (std::fabs(facing) < 1e-8f) {
        return std::nullopt;
    }
    const float t = dot(normal, quad.corner - ray.origin) / facing;
    if (t <= kSelfHitEpsilon || t >= maxDistance) {
        return std::nullopt;
    }
    const Vector3 point = ray.origin + ray.direction * t;
    const Vector3 local = point - quad.corner;
    const float s = dot(local, quad.edgeU) / dot(quad.edgeU, quad.edgeU);
    const float r = dot(local, quad.edgeV) / dot(quad.edgeV, quad.edgeV);
    if (s < 0 || s > 1 || r < 0 || r > 1) {
        return std::nullopt;
    }
    return Hit{t, point, normal, s, r, quad.material};
}

Vector3 turnedAboutZ(const Vector3& v, float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    return {c * v.x - s * v.y, s * v.x + c * v.y, v.z};
}

std::optional<Hit> intersectSphere(const Sphere& sphere, const Ray& ray, float maxDistance) {
    const Vector3 toCentre = sphere.centre - ray.origin;
    const float along = dot(toCentre, ray.direction);
    const float discriminant =
        along * along - dot(toCentre, toCentre) + sphere.radius * sphere.radius;
    if (discriminant < 0) {
        return std::nullopt;
    }
    const float root = std::sqrt(discriminant);
    float t = along - root;
    if (t <= kSelfHitEpsilon) {
        t = along + root;
    }
    if (t <= kSelfHitEpsilon || t >= maxDistance) {
        return std::nullopt;
    }
    const Vector3 point = ray.origin + ray.direction * t;
    const Vector3 normal = (point - sphere.centre) / sphere.radius;
    // The texture is fixed to the ball: look it up at the normal turned back by the roll.
    const Vector3 local = sphere.roll == 0 ? normal : turnedAboutZ(normal, -sphere.roll);
    const float u = 0.5f + std::atan2(local.z, local.x) / (2 * std::numbers::pi_v<float>);
    const float v =
        0.5f + std::asin(std::fmax(-1.0f, std::fmin(1.0f, local.y))) / std::numbers::pi_v<float>;
    return Hit{t, point, normal, u, v, sphere.material};
}

std::optional<Hit> intersectBox(const Box& box, const Ray& ray, float maxDistance) {
    float nearT = kSelfHitEpsilon, farT = maxDistance;
    int nearAxis = -1, farAxis = -1;
    for (int axis = 0; axis < 3; ++axis) {
        const float inverse = 1.0f / ray.direction[axis];
        float t0 = (box.low[axis] - ray.origin[axis]) * inverse;
        float t1 = (box.high[axis] - ray.origin[axis]) * inverse;
        if (t0 > t1) {
            std::swap(t0, t1);
        }
        if (t0 > nearT) {
            nearT = t0;
            nearAxis = axis;
        }
        if (t1 < farT) {
            farT = t1;
            farAxis = axis;
        }
        if (nearT > farT) {
            return std::nullopt;
        }
    }
    // From outside the near face is hit; from inside, the far one.
    const bool outside = nearAxis >= 0;
    const float t = outside ? nearT : farT;
    const int axis = outside ? nearAxis : farAxis;
    if (axis < 0 || t >= maxDistance) {
        return std::nullopt;
    }
    const Vector3 point = ray.origin + ray.direction * t;
    float n[3] = {0, 0, 0};
    n[axis] = point[axis] > 0.5f * (box.low[axis] + box.high[axis]) ? 1.0f : -1.0f;
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    const float u = (point[a] - box.low[a]) / (box.high[a] - box.low[a]);
    const float v = (point[b] - box.low[b]) / (box.high[b] - box.low[b]);
    return Hit{t, point, Vector3(n[0], n[1], n[2]), u, v, box.material};
}

template <typename Shape, typename Intersect>
void nearest(const std::vector<Shape>& shapes, const Ray& ray, Intersect intersectOne,
             std::optional<Hit>& best, float& limit) {
    for (const Shape& shape : shapes) {
        if (auto hit = intersectOne(shape, ray, limit)) {
            best = hit;
            limit = hit->distance;
        }
    }
}

}  // namespace

Vector3 Material::albedoAt(float u, float v) const {
    if (checkerScale <= 0) {
        return albedo;
    }
    const auto square = static_cast<long>(std::floor(u * checkerScale)) +
                        static_cast<long>(std::floor(v * checkerScale));
    return (square & 1) ? checkerAlbedo : albedo;
}

Ray Camera::primaryRay(int column, int row, int width, int height) const {
    return rayThrough(static_cast<float>(column) + 0.5f, static_cast<float>(row) + 0.5f, width,
                      height);
}

Ray Camera::rayThrough(float x, float y, int width, int height) const {
    const Vector3 forward = normalize(target - position);
    const Vector3 right = normalize(cross(forward, up));
    const Vector3 upward = cross(right, forward);
    const float halfHeight =
        std::tan(0.5f * verticalFieldOfViewDegrees * std::numbers::pi_v<float> / 180.0f);
    const float halfWidth = halfHeight * static_cast<float>(width) / static_cast<float>(height);
    const float sx = (2.0f * x / width - 1.0f) * halfWidth;
    const float sy = (1.0f - 2.0f * y / height) * halfHeight;
    return Ray{position, normalize(forward + right * sx + upward * sy)};
}

std::optional<Hit> Scene::intersect(const Ray& ray, float maxDistance) const {
    std::optional<Hit> best;
    float limit = maxDistance;
    nearest(quads, ray, intersectQuad, best, limit);
    nearest(spheres, ray, intersectSphere, best, limit);
    nearest(boxes, ray, intersectBox, best, limit);
    return best;
}

bool Scene::visible(const Vector3& from, const Vector3& to) const {
    const Vector3 path = to - from;
    const float distance = length(path);
    return !intersect(Ray{from, path / distance}, distance * (1.0f - 1e-4f));
}

Scene Scene::room() {
    Scene scene;
    using Kind = Material::Kind;
    const int white = 0, red = 1, green = 2, floor = 3, light = 4, mirror = 5, ball = 6, blue = 7;
    scene.materials = {
        {Kind::Diffuse, {0.75f, 0.74f, 0.72f}, {}, 0, {}},
        {Kind::Diffuse, {0.70f, 0.12f, 0.10f}, {}, 0, {}},
        {Kind::Diffuse, {0.14f, 0.55f, 0.16f}, {}, 0, {}},
        {Kind::Diffuse, {0.80f, 0.76f, 0.66f}, {0.18f, 0.22f, 0.40f}, 6, {}},
        {Kind::Light, {0.78f, 0.78f, 0.78f}, {}, 0, {13.0f, 11.5f, 9.0f}},
        {Kind::Mirror, {0.90f, 0.90f, 0.90f}, {}, 0, {}},
        {Kind::Diffuse, {0.85f, 0.62f, 0.20f}, {0.30f, 0.12f, 0.45f}, 8, {}},
        {Kind::Diffuse, {0.25f, 0.35f, 0.70f}, {}, 0, {}},
    };
    // Room x in [-1, 1], y in [0, 2], z in [-1.5, 3]; every wall faces inwards.
    const float x0 = -1, x1 = 1, y0 = 0, y1 = 2, z0 = -1.5f, z1 = 3;
    scene.quads = {
        {{x0, y0, z0}, {0, 0, z1 - z0}, {x1 - x0, 0, 0}, floor},       // floor, normal +y
        {{x0, y1, z0}, {x1 - x0, 0, 0}, {0, 0, z1 - z0}, white},       // ceiling, normal -y
        {{x0, y0, z0}, {x1 - x0, 0, 0}, {0, y1 - y0, 0}, white},       // far wall, normal +z
        {{x0, y0, z1}, {0, y1 - y0, 0}, {x1 - x0, 0, 0}, blue},        // wall behind the camera
        {{x0, y0, z0}, {0, y1 - y0, 0}, {0, 0, z1 - z0}, red},         // left wall, normal +x
        {{x1, y0, z0}, {0, 0, z1 - z0}, {0, y1 - y0, 0}, green},       // right wall, normal -x
        {{-0.35f, 1.98f, -0.75f}, {0.7f, 0, 0}, {0, 0, 0.7f}, light},  // light, normal -y
    };
    scene.lightQuad = 6;
    scene.boxes = {{{-0.75f, 0.0f, -1.1f}, {-0.2f, 1.1f, -0.55f}, white}};
    scene.spheres = {
        {{0.45f, 0.35f, -0.6f}, 0.35f, ball},
        {{0.05f, 0.25f, 0.35f}, 0.25f, mirror},
    };
    scene.camera = Camera{{0.0f, 1.0f, 2.8f}, {0.0f, 0.75f, -1.5f}, {0, 1, 0}, 48.0f};
    return scene;
}

}  // namespace sample_frame
