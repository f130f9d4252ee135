#pragma once

#include <cmath>

namespace sample_frame {

/// A point, direction or colour in three floats.
struct Vector3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;

    constexpr Vector3() = default;
    constexpr Vector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    constexpr Vector3 operator+(const Vector3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr Vector3 operator-(const Vector3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr Vector3 operator-() const { return {-x, -y, -z}; }
    constexpr Vector3 operator*(const Vector3& o) const { return {x * o.x, y * o.y, z * o.z}; }
    constexpr Vector3 operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr Vector3 operator/(float s) const { return {x / s, y / s, z / s}; }
    Vector3& operator+=(const Vector3& o) { return *this = *this + o; }
    Vector3& operator*=(const Vector3& o) { return *this = *this * o; }

    constexpr float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    constexpr float maxComponent() const { return x > y ? (x > z ? x : z) : (y > z ? y : z); }
};

constexpr Vector3 operator*(float s, const Vector3& v) {
    return v * s;
}
constexpr float dot(const Vector3& a, const Vector3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
constexpr Vector3 cross(const Vector3& a, const Vector3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(const Vector3& v) {
    return std::sqrt(dot(v, v));
}
inline Vector3 normalize(const Vector3& v) {
    return v / length(v);
}

/// Two unit vectors that make a right-handed frame with unit `normal`.
inline void orthonormalBasis(const Vector3& normal, Vector3& tangent, Vector3& bitangent) {
    const Vector3 helper = std::fabs(normal.x) > 0.5f ? Vector3(0, 1, 0) : Vector3(1, 0, 0);
    tangent = normalize(cross(helper, normal));
    bitangent = cross(normal, tangent);
}

struct Ray {
    Vector3 origin;
    Vector3 direction;  // unit length
};

}  // namespace sample_frame
