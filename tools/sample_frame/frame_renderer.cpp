#include "frame_renderer.h"

#include <omp.h>

#include "path_tracer.h"
#include "pixel_samples.h"

namespace sample_frame {

namespace {

constexpr uint64_t kReferenceStream = 0x5EF5EF;

void resizeAll(FrameLayers& layers) {
    const size_t pixels = static_cast<size_t>(layers.width) * static_cast<size_t>(layers.height);
    for (Image* layer : {&layers.primary, &layers.secondary, &layers.texColor, &layers.normals,
                         &layers.positions, &layers.texCoords, &layers.rest}) {
        layer->assign(pixels, Vector3());
    }
}

/// Every path through the pixel's centre: the surface layers are exact.
PixelLayers centredPixel(const Scene& scene, const PathTracer& tracer, const RenderRequest& request,
                         int column, int row, Random& random) {
    const Ray ray = scene.camera.primaryRay(column, row, request.width, request.height);
    const SurfaceRecord surface = tracer.surfaceAlong(ray);
    Vector3 direct, indirect, rest;
    for (int sample = 0; sample < request.samplesPerPixel; ++sample) {
        const LightSplit split = tracer.tracePath(ray, random);
        direct += split.direct;
        indirect += split.indirect;
        rest += split.rest;
    }
    const float weight = 1.0f / static_cast<float>(request.samplesPerPixel);
    return {direct * weight,  indirect * weight, surface.albedo, surface.normal,
            surface.position, surface.texCoord,  rest * weight};
}

/// Every path from its own point of the pixel, as anti-aliasing renderers
/// sample: at edges the surface layers too are estimates.
PixelLayers jitteredPixel(const Scene& scene, const PathTracer& tracer,
                          const RenderRequest& request, int column, int row, Random& random) {
    PixelSamples samples;
    for (int sample = 0; sample < request.samplesPerPixel; ++sample) {
        const float x = static_cast<float>(column) + random.uniform();
        const float y = static_cast<float>(row) + random.uniform();
        const Ray ray = scene.camera.rayThrough(x, y, request.width, request.height);
        samples.add(tracer.surfaceAlong(ray), tracer.tracePath(ray, random));
    }
    return samples.average();
}

void store(FrameLayers& layers, size_t pixel, const PixelLayers& values) {
    layers.primary[pixel] = values.primary;
    layers.secondary[pixel] = values.secondary;
    layers.texColor[pixel] = values.texColor;
    layers.normals[pixel] = values.normal;
    layers.positions[pixel] = values.position;
    layers.texCoords[pixel] = values.texCoord;
    layers.rest[pixel] = values.rest;
}

}  // namespace

Image FrameLayers::combined() const {
    Image frame(rest.size());
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = rest[i] + texColor[i] * (primary[i] + secondary[i]);
    }
    return frame;
}

FrameLayers renderLayers(const Scene& scene, const RenderRequest& request, uint64_t stream,
                         const RowDone& rowDone) {
    FrameLayers layers;
    layers.width = request.width;
    layers.height = request.height;
    resizeAll(layers);
    const PathTracer tracer(scene);
    const int threads = request.threads > 0 ? request.threads : omp_get_max_threads();
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (int row = 0; row < request.height; ++row) {
        for (int column = 0; column < request.width; ++column) {
            const size_t pixel = static_cast<size_t>(row) * request.width + column;
            Random random(request.seed, pixel, stream);
            store(layers, pixel,
                  request.jitter ? jitteredPixel(scene, tracer, request, column, row, random)
                                 : centredPixel(scene, tracer, request, column, row, random));
        }
        if (rowDone) {
            rowDone();
        }
    }
    return layers;
}

uint64_t frameSeed(uint64_t seed, int frame) {
    // Mixed (SplitMix64), so that neighbouring seeds and frames give unrelated noise.
    uint64_t z =
        seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(frame) + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Image renderReference(const Scene& scene, const RenderRequest& request, const RowDone& rowDone) {
    return renderLayers(scene, request, kReferenceStream, rowDone).combined();
}

}  // namespace sample_frame
