#include "sky.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sample_frame {

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

/// 1 - cos(angle), without the cancellation of the plain form at small angles.
float oneMinusCos(float angle) {
    const float half = std::sin(0.5f * angle);
    return 2 * half * half;
}

}  // namespace

Vector3 Sky::radianceFrom(const Vector3& towardsSky) const {
    const float height = std::clamp(towardsSky.y, 0.0f, 1.0f);
    return horizon + (zenith - horizon) * height;
}

Vector3 Sun::sampleDirection(Random& random) const {
    Vector3 tangent, bitangent;
    orthonormalBasis(direction, tangent, bitangent);
    const float drop = random.uniform() * oneMinusCos(angularRadius);  // 1 - cos(theta)
    const float cosTheta = 1 - drop;
    const float sinTheta = std::sqrt(drop * (2 - drop));
    const float phi = 2 * kPi * random.uniform();
    return normalize(tangent * (sinTheta * std::cos(phi)) + bitangent * (sinTheta * std::sin(phi)) +
                     direction * cosTheta);
}

Vector3 Sun::radiance() const {
    // A facing surface gathers L * cos over the cone: L * pi * sin^2 of the radius.
    const float sinRadius = std::sin(angularRadius);
    return irradiance / (kPi * sinRadius * sinRadius);
}

float Sun::solidAngle() const {
    return 2 * kPi * oneMinusCos(angularRadius);
}

bool Sun::covers(const Vector3& towardsSky) const {
    return 1 - dot(towardsSky, direction) <= oneMinusCos(angularRadius);
}

}  // namespace sample_frame
