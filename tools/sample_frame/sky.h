#pragma once

#include "random.h"
#include "vector3.h"

namespace sample_frame {

/// The radiance of rays that leave an open scene: a gradient from the
/// horizon up to the zenith, the horizon's colour below it.
struct Sky {
    Vector3 horizon, zenith;

    /// Light arriving from unit direction `towardsSky`.
    Vector3 radianceFrom(const Vector3& towardsSky) const;
};

/// A light at infinity as small as the sun: uniform radiance over a narrow
/// cone of directions.
struct Sun {
    Vector3 direction;  // unit, from the scene towards the sun
    float angularRadius = 0.01f;
    Vector3 irradiance;  // on a surface facing the sun

    /// A direction drawn uniformly from the cone.
    Vector3 sampleDirection(Random& random) const;

    /// The radiance of the disc, such that it gives `irradiance` to a
    /// surface facing it.
    Vector3 radiance() const;
    float solidAngle() const;
    bool covers(const Vector3& towardsSky) const;
};

}  // namespace sample_frame
