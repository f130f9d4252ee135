#include "path_tracer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>

#include "frame_files.h"
#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"
#include "frame_renderer.h"

using namespace sample_frame;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

/// The pixel whose ray first meets a surface of `kind`.
int firstPixelOfKind(const Scene& scene, int size, Material::Kind kind) {
    for (int pixel = 0; pixel < size * size; ++pixel) {
        const Ray ray = scene.camera.primaryRay(pixel % size, pixel / size, size, size);
        const auto hit = scene.intersect(ray, INFINITY);
        if (hit && scene.materialOf(*hit).kind == kind) {
            return pixel;
        }
    }
    return -1;
}

TEST(Scene, RoomIsClosedAndWallsFaceInwards) {
    const Scene scene = Scene::room();
    Random random(7, 0, 0);
    const Vector3 centre(0.0f, 1.0f, 0.75f);
    for (int i = 0; i < 2000; ++i) {
        const float z = 2 * random.uniform() - 1;
        const float phi = 2 * kPi * random.uniform();
        const float r = std::sqrt(1 - z * z);
        const Ray ray{centre, {r * std::cos(phi), r * std::sin(phi), z}};
        const auto hit = scene.intersect(ray, INFINITY);
        ASSERT_TRUE(hit) << "ray " << i << " leaves the room";
        // Seen from inside, every surface turns its front to the viewer
        // except where the ray grazes an object from behind its front.
        if (scene.materialOf(*hit).kind != Material::Kind::Light) {
            EXPECT_LT(dot(hit->normal, ray.direction), 1e-3f) << "ray " << i;
        }
    }
}

TEST(Scene, GalleryIsClosedAndLitFromBehindItsPartition) {
    const Scene scene = Scene::gallery();
    Random random(8, 0, 0);
    const Vector3 centre(0.8f, 1.0f, 1.5f);
    for (int i = 0; i < 2000; ++i) {
        const float z = 2 * random.uniform() - 1;
        const float phi = 2 * kPi * random.uniform();
        const float r = std::sqrt(1 - z * z);
        const Ray ray{centre, {r * std::cos(phi), r * std::sin(phi), z}};
        ASSERT_TRUE(scene.intersect(ray, INFINITY)) << "ray " << i << " leaves the hall";
    }
    const PathTracer tracer(scene);
    const Vector3 up(0, 1, 0);
    // The floor under the light gets its direct light; the floor right in
    // front of the partition, in its shadow, none.
    EXPECT_GT(tracer.directIrradiance({-0.9f, 0.0f, -1.8f}, up, random).y, 0.0f);
    EXPECT_EQ(tracer.directIrradiance({-0.9f, 0.0f, -0.9f}, up, random).y, 0.0f);
}

TEST(Scene, NearestHitWinsOverFartherSurfaces) {
    const Scene scene = Scene::room();
    // Straight down onto the textured ball: its top, not the floor below.
    const Sphere& ball = scene.spheres[0];
    const Ray down{ball.centre + Vector3(0, 1, 0), {0, -1, 0}};
    const auto hit = scene.intersect(down, INFINITY);
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->distance, 1.0f - ball.radius, 1e-5f);
    EXPECT_NEAR(hit->normal.y, 1.0f, 1e-5f);
    EXPECT_FALSE(scene.intersect(down, 0.5f)) << "a limit short of the ball must hide it";
}

TEST(PathTracer, DirectIrradianceMatchesClosedFormUnderTheLight) {
    // Irradiance at distance h below the centre of a parallel a x b emitter.
    const Scene scene = Scene::room();
    const Quad& light = scene.quads[scene.lightQuad];
    const Vector3 centre = light.corner + (light.edgeU + light.edgeV) * 0.5f;
    const Vector3 point(centre.x, 1.0f, centre.z);  // above the box top, below the light
    const double h = centre.y - point.y, a = length(light.edgeU) / 2, b = length(light.edgeV) / 2;
    const auto term = [h](double x, double y) {
        return x / std::sqrt(x * x + h * h) * std::atan(y / std::sqrt(x * x + h * h)) +
               y / std::sqrt(y * y + h * h) * std::atan(x / std::sqrt(y * y + h * h));
    };
    const double expected = 2.0 * term(a, b);  // per unit of emitted radiance
    const PathTracer tracer(scene);
    Random random(3, 0, 0);
    double sum = 0;
    const int samples = 200000;
    for (int i = 0; i < samples; ++i) {
        sum += tracer.directIrradiance(point, {0, 1, 0}, random).x;
    }
    const double emitted = scene.materials[light.material].emission.x;
    EXPECT_NEAR(sum / samples, expected * emitted, 0.01 * expected * emitted);
}

TEST(PathTracer, LayerSplitAddsUpToTheUnsplitRadiance) {
    // rest + albedo * (direct + indirect) must estimate the same light as a
    // plain path traced from the camera: no part counted twice or lost.
    const Scene scene = Scene::room();
    const PathTracer tracer(scene);
    const int size = 64;
    const int pixels[] = {firstPixelOfKind(scene, size, Material::Kind::Mirror), 40 * size + 40,
                          20 * size + 10, 50 * size + 20};
    for (int pixel : pixels) {
        ASSERT_GE(pixel, 0);
        const Ray ray = scene.camera.primaryRay(pixel % size, pixel / size, size, size);
        const Vector3 albedo = tracer.surfaceAlong(ray).albedo;
        Random splitRandom(11, pixel, 0), plainRandom(12, pixel, 0);
        double split = 0, plain = 0, plainSquares = 0;
        const int samples = 40000;
        for (int i = 0; i < samples; ++i) {
            const LightSplit parts = tracer.tracePath(ray, splitRandom);
            split += (parts.rest + albedo * (parts.direct + parts.indirect)).y;
            const double value = tracer.radiance(ray, plainRandom, true).y;
            plain += value;
            plainSquares += value * value;
        }
        split /= samples;
        plain /= samples;
        const double standardError = std::sqrt((plainSquares / samples - plain * plain) / samples);
        EXPECT_NEAR(split, plain, 5 * standardError + 1e-3 * plain) << "pixel " << pixel;
    }
}

/// Light along a ray by plain path tracing: no light sampling, emitters
/// count only when a path happens to hit them. Slow to converge but free of
/// the bookkeeping that next-event estimation needs.
double naiveRadianceY(const Scene& scene, Ray ray, Random& random) {
    double throughput = 1.0;
    for (int bounce = 0; bounce < 60 && throughput > 1e-4; ++bounce) {
        const auto hit = scene.intersect(ray, INFINITY);
        if (!hit) {
            return 0.0;
        }
        const Material& material = scene.materialOf(*hit);
        const bool front = dot(hit->normal, ray.direction) < 0;
        const Vector3 normal = front ? hit->normal : -hit->normal;
        if (material.kind == Material::Kind::Light) {
            return front ? throughput * material.emission.y : 0.0;
        }
        Vector3 direction;
        if (material.kind == Material::Kind::Mirror) {
            throughput *= material.albedo.y;
            direction = ray.direction - normal * (2 * dot(ray.direction, normal));
        } else {
            throughput *= material.albedoAt(hit->u, hit->v).y;
            // Cosine-weighted by rejection from the unit ball around the normal.
            Vector3 offset;
            do {
                offset = Vector3(2 * random.uniform() - 1, 2 * random.uniform() - 1,
                                 2 * random.uniform() - 1);
            } while (dot(offset, offset) > 1 || dot(offset, offset) < 1e-6f);
            direction = normalize(normal + normalize(offset));
        }
        ray = Ray{hit->point + normal * 1e-4f, direction};
    }
    return 0.0;
}

TEST(PathTracer, AgreesWithPlainPathTracing) {
    const Scene scene = Scene::room();
    const PathTracer tracer(scene);
    const int size = 32;
    for (int pixel : {20 * size + 8, 12 * size + 16, 28 * size + 24}) {
        const Ray ray = scene.camera.primaryRay(pixel % size, pixel / size, size, size);
        Random ours(21, pixel, 0), plain(22, pixel, 0);
        const int samples = 20000, plainSamples = 300000;
        double mean = 0, plainMean = 0, plainSquares = 0;
        for (int i = 0; i < samples; ++i) {
            mean += tracer.radiance(ray, ours, true).y;
        }
        for (int i = 0; i < plainSamples; ++i) {
            const double value = naiveRadianceY(scene, ray, plain);
            plainMean += value;
            plainSquares += value * value;
        }
        mean /= samples;
        plainMean /= plainSamples;
        const double standardError =
            std::sqrt((plainSquares / plainSamples - plainMean * plainMean) / plainSamples);
        EXPECT_NEAR(mean, plainMean, 4 * standardError + 0.01 * plainMean) << "pixel " << pixel;
    }
}

TEST(FrameRenderer, LayersFollowTheirMeaning) {
    const Scene scene = Scene::room();
    const int size = 48;
    const FrameLayers layers = renderLayers(scene, {size, size, 2, 5, 2});
    const int light = firstPixelOfKind(scene, size, Material::Kind::Light);
    const int mirror = firstPixelOfKind(scene, size, Material::Kind::Mirror);
    ASSERT_GE(light, 0);
    ASSERT_GE(mirror, 0);
    const Vector3 emission = scene.materials[scene.quads[scene.lightQuad].material].emission;
    EXPECT_FLOAT_EQ(layers.rest[light].x, emission.x);
    EXPECT_EQ(layers.primary[light].x + layers.secondary[light].x, 0.0f);
    EXPECT_EQ(layers.primary[mirror].y + layers.secondary[mirror].y, 0.0f);
    EXPECT_GT(layers.rest[mirror].y, 0.0f) << "the mirror shows the room in the rest layer";
    float floorLow = 1, floorHigh = 0;
    for (size_t i = 0; i < layers.normals.size(); ++i) {
        EXPECT_NEAR(length(layers.normals[i]), 1.0f, 1e-4f);
        EXPECT_GE(layers.primary[i].x, 0.0f);
        if (layers.normals[i].y > 0.99f && layers.positions[i].y < 1e-3f) {  // the floor
            floorLow = std::min(floorLow, layers.texColor[i].x);
            floorHigh = std::max(floorHigh, layers.texColor[i].x);
            EXPECT_EQ(layers.rest[i].x, 0.0f);
        }
    }
    EXPECT_LT(floorLow, 0.3f) << "both checker colours appear on the floor";
    EXPECT_GT(floorHigh, 0.7f);
    // Positions lie on the rays from the camera.
    const Vector3 toPoint = normalize(layers.positions[light] - scene.camera.position);
    const Ray ray = scene.camera.primaryRay(light % size, light / size, size, size);
    EXPECT_NEAR(dot(toPoint, ray.direction), 1.0f, 1e-5f);
}

TEST(FrameRenderer, SameSeedSameFrameOnAnyThreadCount) {
    const Scene scene = Scene::room();
    const FrameLayers one = renderLayers(scene, {24, 16, 3, 9, 1});
    const FrameLayers two = renderLayers(scene, {24, 16, 3, 9, 3});
    const FrameLayers otherSeed = renderLayers(scene, {24, 16, 3, 10, 2});
    ASSERT_EQ(one.secondary.size(), 24u * 16u);
    EXPECT_EQ(0, std::memcmp(one.secondary.data(), two.secondary.data(),
                             one.secondary.size() * sizeof(Vector3)));
    EXPECT_EQ(0, std::memcmp(one.primary.data(), two.primary.data(),
                             one.primary.size() * sizeof(Vector3)));
    EXPECT_NE(0, std::memcmp(one.secondary.data(), otherSeed.secondary.data(),
                             one.secondary.size() * sizeof(Vector3)));
    const Image reference = renderReference(scene, {24, 16, 3, 9, 2});
    const Image frame = one.combined();
    EXPECT_NE(0, std::memcmp(reference.data(), frame.data(), frame.size() * sizeof(Vector3)))
        << "the reference must not repeat the frame's noise";
}

TEST(FrameFiles, LayersReadBackInTheFilterOrder) {
    const Scene scene = Scene::room();
    const FrameLayers layers = renderLayers(scene, {6, 4, 1, 1, 1});
    const auto root = std::filesystem::temp_directory_path() /
                      ("sample_frame_test_" + std::to_string(::getpid()));
    ASSERT_TRUE(writeFrame(root.string(), layers, scene.camera.position, {0.25f, 7.0f}));
    const filtering::FramePaths paths(root.string());
    // Working images are top-down with channels reversed: channel 2 is x.
    const cv::Mat positions = filtering::read_float4(paths.layer(filtering::Positions));
    ASSERT_EQ(positions.cols, 6);
    ASSERT_EQ(positions.rows, 4);
    const Vector3& expected = layers.positions[1 * 6 + 5];
    EXPECT_EQ(positions.at<cv::Vec3f>(1, 5), cv::Vec3f(expected.z, expected.y, expected.x));
    filtering::CameraPosition camera;
    ASSERT_TRUE(filtering::readCamera(paths.camera(), camera));
    EXPECT_EQ(camera.z, scene.camera.position.z);
    filtering::FilterSettings settings;
    ASSERT_TRUE(filtering::readSettings(paths.settings(), settings));
    EXPECT_EQ(settings.rangeSigma, 0.25f);
    EXPECT_EQ(settings.spatialSigma, 7.0f);
    const cv::Mat noisy = filtering::read_float4(noisyFramePath(root.string()));
    const Vector3 frame = layers.combined()[7];
    EXPECT_EQ(noisy.at<cv::Vec3f>(1, 1)[0], frame.z);
    std::filesystem::remove_all(root);
}

}  // namespace
