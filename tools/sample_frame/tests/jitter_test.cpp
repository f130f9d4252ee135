#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "frame_renderer.h"
#include "path_tracer.h"

using namespace sample_frame;

namespace {

uint64_t fnv1a(const Image& image, uint64_t hash = 1469598103934665603ull) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
    for (size_t i = 0; i < image.size() * sizeof(Vector3); ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

uint64_t fnv1a(const FrameLayers& layers) {
    uint64_t hash = 1469598103934665603ull;
    for (const Image* layer :
         {&layers.primary, &layers.secondary, &layers.texColor, &layers.normals, &layers.positions,
          &layers.texCoords, &layers.rest}) {
        hash = fnv1a(*layer, hash);
    }
    return hash;
}

/// What the camera sees through point (x, y) of the image: the albedo (0
/// for the sky) and whether it is a plain colour, without a checker.
std::pair<float, bool> albedoThrough(const Scene& scene, float x, float y, int width, int height) {
    const auto hit = scene.intersect(scene.camera.rayThrough(x, y, width, height), INFINITY);
    if (!hit) {
        return {0.0f, true};
    }
    const Material& material = scene.materialOf(*hit);
    return {material.albedoAt(hit->u, hit->v).y, material.checkerScale == 0};
}

TEST(CentredSamples, KeepTheFramesTheyGaveBeforeJitterWasAnOption) {
    // Hashes of frames rendered before jittering existed: every frame and
    // reference other tests and benchmarks pin depends on these bits.
    EXPECT_EQ(fnv1a(renderLayers(Scene::room(), {24, 16, 3, 9, 2})), 0x190a57eab23831a4ull);
    EXPECT_EQ(fnv1a(renderLayers(Scene::gallery(), {24, 16, 3, 9, 2})), 0x53257e9896d5f7a9ull);
    EXPECT_EQ(fnv1a(renderReference(Scene::room(), {24, 16, 8, 9, 2})), 0xbeba164605cdf469ull);
}

TEST(JitteredFrames, MixTheirSurfacesAtEdgesAndStayExactInside) {
    const Scene scene = Scene::yard();
    const int width = 40, height = 30;
    const FrameLayers frame = renderLayers(scene, {width, height, 4, 3, 2, true});
    const FrameLayers otherSeed = renderLayers(scene, {width, height, 4, 4, 2, true});
    int edges = 0, mixed = 0, noisy = 0, shortNormals = 0;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const size_t pixel = static_cast<size_t>(row) * width + column;
            float low = INFINITY, high = -INFINITY;
            bool plain = true;
            for (const auto& [x, y] :
                 {std::pair{0.0f, 0.0f}, {1.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 1.0f}, {0.5f, 0.5f}}) {
                const auto [albedo, plainColour] =
                    albedoThrough(scene, column + x, row + y, width, height);
                low = std::min(low, albedo);
                high = std::max(high, albedo);
                plain = plain && plainColour;
            }
            const float texColor = frame.texColor[pixel].y;
            if (high == low) {
                // A checker may change colour between the probes; a plain colour can't.
                if (plain) {
                    EXPECT_NEAR(texColor, low, 1e-6f) << "pixel " << pixel;
                }
                continue;
            }
            ++edges;
            mixed += texColor > low + 1e-4f && texColor < high - 1e-4f;
            noisy += texColor != otherSeed.texColor[pixel].y;
            shortNormals += length(frame.normals[pixel]) < 0.99f;
        }
    }
    ASSERT_GT(edges, 50);
    EXPECT_GT(mixed, edges / 4) << "edge pixels average the surfaces their paths meet";
    EXPECT_GT(noisy, edges / 4) << "at 4 paths a pixel the mixture is itself noisy";
    EXPECT_GT(shortNormals, edges / 8) << "averaged normals are left short of unit length";
}

TEST(JitteredFrames, CarryTheLightOfPlainPathsThroughRandomPointsOfTheImage) {
    // The layers, recombined, against plain unsplit paths from points drawn
    // over the whole image: light lost or counted twice where a pixel's
    // paths meet different surfaces shows as a gap between the two totals.
    const int width = 32, height = 24, paths = 64;
    const Scene scene = Scene::yard();
    const Image frame = renderLayers(scene, {width, height, paths, 5, 2, true}).combined();
    double layersTotal = 0;
    for (const Vector3& pixel : frame) {
        layersTotal += pixel.y;
    }
    const PathTracer tracer(scene);
    Random random(6, 0, 0);
    double sum = 0, squares = 0;
    const int samples = width * height * paths;
    for (int i = 0; i < samples; ++i) {
        const float x = width * random.uniform(), y = height * random.uniform();
        const Ray ray = scene.camera.rayThrough(x, y, width, height);
        const double light = tracer.radiance(ray, random, true).y;
        sum += light;
        squares += light * light;
    }
    const double mean = sum / samples;
    const double standardError = std::sqrt((squares / samples - mean * mean) / samples);
    const double pixels = width * height;
    EXPECT_NEAR(layersTotal / pixels, mean, 6 * standardError);
}

}  // namespace
