#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "frame_renderer.h"
#include "path_tracer.h"

using namespace sample_frame;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

bool isZero(const Vector3& v) {
    return v.x == 0 && v.y == 0 && v.z == 0;
}

/// What covers all of pixel (column, row), probed at its corners and
/// centre: the sky, a black surface or something else.
enum class Cover { Sky, Black, Other };

Cover coverOf(const Scene& scene, int column, int row, int width, int height) {
    int sky = 0, black = 0;
    for (const auto& [x, y] :
         {std::pair{0.0f, 0.0f}, {1.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 1.0f}, {0.5f, 0.5f}}) {
        const Ray ray = scene.camera.rayThrough(column + x, row + y, width, height);
        const auto hit = scene.intersect(ray, INFINITY);
        sky += !hit;
        black += hit && isZero(scene.materialOf(*hit).albedoAt(hit->u, hit->v));
    }
    return sky == 5 ? Cover::Sky : black == 5 ? Cover::Black : Cover::Other;
}

TEST(Yard, SunAndSkyLightTheOpenGroundDirectly) {
    const Scene scene = Scene::yard();
    const PathTracer tracer(scene);
    const Vector3 up(0, 1, 0);
    Random random(5, 0, 0);
    // No sun in the crate's shadow.
    EXPECT_EQ(tracer.directIrradiance({-0.3f, 0, -0.6f}, up, random).y, 0.0f);
    // Far from every object a path from the ground sees the sun by its light
    // sample and the sky straight away, both direct light: the sun's
    // irradiance times the cosine, and the gradient's 2 pi (horizon / 2 +
    // (zenith - horizon) / 3). Nothing is left for the indirect part.
    const float sunIrradiance = scene.sun->irradiance.y * scene.sun->direction.y;
    const Sky& sky = *scene.sky;
    const float skyIrradiance = 2 * kPi * (sky.horizon.y / 2 + (sky.zenith.y - sky.horizon.y) / 3);
    const Ray down{{20, 1, 20}, {0, -1, 0}};
    double direct = 0, indirect = 0;
    const int samples = 20000;
    for (int i = 0; i < samples; ++i) {
        const LightSplit split = tracer.tracePath(down, random);
        direct += split.direct.y;
        indirect += split.indirect.y;
    }
    const double expected = (sunIrradiance + skyIrradiance) / kPi;
    EXPECT_NEAR(direct / samples, expected, 0.01 * expected);
    EXPECT_LT(indirect / samples, 0.005 * expected);
}

TEST(Yard, SkyAndBlackPixelsWriteNoDiffuseLight) {
    const Scene scene = Scene::yard();
    const int width = 40, height = 30;
    for (const bool jitter : {false, true}) {
        const FrameLayers frame = renderLayers(scene, {width, height, 2, 7, 2, jitter});
        const Image beauty = frame.combined();
        int skyPixels = 0, blackPixels = 0;
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const size_t i = static_cast<size_t>(row) * width + column;
                const Cover cover = coverOf(scene, column, row, width, height);
                if (cover == Cover::Other) {
                    continue;
                }
                EXPECT_TRUE(isZero(frame.texColor[i]) && isZero(frame.primary[i]) &&
                            isZero(frame.secondary[i]))
                    << "pixel " << i << (jitter ? ", jittered" : "");
                if (cover == Cover::Black) {
                    ++blackPixels;
                    EXPECT_FALSE(isZero(frame.normals[i])) << "a surface is there";
                    continue;
                }
                ++skyPixels;
                EXPECT_TRUE(isZero(frame.normals[i]) && isZero(frame.positions[i]) &&
                            isZero(frame.texCoords[i]))
                    << "pixel " << i;
                EXPECT_GT(frame.rest[i].z, 0.0f);
                EXPECT_EQ(frame.rest[i].z, beauty[i].z);
                if (!jitter) {
                    const Ray ray = scene.camera.primaryRay(column, row, width, height);
                    EXPECT_EQ(frame.rest[i].y, scene.sky->radianceFrom(ray.direction).y);
                }
            }
        }
        EXPECT_GT(skyPixels, 100);
        EXPECT_GT(blackPixels, 10);
    }
}

}  // namespace
