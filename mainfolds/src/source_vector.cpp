#include "quendel/source_vector.h"

#include <algorithm>

#include "eigen.h"
#include "patch_features.h"
#include "quendel/matrix.h"
#include "quendel/threads.h"
#include "scatter_matrix.h"

namespace quendel {

namespace {

constexpr float kEigenTolerance = 0.001f;
constexpr unsigned kProjectionTilePixels = 256;

// output_j += feature_i * axes[i][j] for i in increasing order, per pixel.
void projectTile(const float* tile, unsigned pixelCount, int featureCount, const float* axes,
                 int dimensions, float* const* outputs) {
    for (int j = 0; j < dimensions; ++j) {
        float* out = outputs[j];
        std::fill(out, out + pixelCount, 0.0f);
        for (int i = 0; i < featureCount; ++i) {
            const float axis = axes[static_cast<size_t>(i) * featureCount + j];
            const float* feature = tile + static_cast<size_t>(i) * kProjectionTilePixels;
            for (unsigned p = 0; p < pixelCount; ++p) {
                out[p] = out[p] + feature[p] * axis;
            }
        }
    }
}

// Projects the centred features of every pixel on the first `dimensions`
// columns of `axes`; rows are spread over the team.
void project(const PatchFeatures& features, const std::vector<float>& centre, const CpuMatrix& axes,
             CpuTexture& target) {
    const int featureCount = features.count();
    const int dimensions = static_cast<int>(target.getChannelsCount());
    const unsigned width = features.width();
    const int height = static_cast<int>(features.height());
#pragma omp parallel num_threads(threadCount())
    {
        std::vector<float> tile(static_cast<size_t>(featureCount) * kProjectionTilePixels);
        std::vector<float*> outputs(static_cast<size_t>(dimensions));
#pragma omp for schedule(static)
        for (int y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; x += kProjectionTilePixels) {
                const unsigned count = std::min(kProjectionTilePixels, width - x);
                features.gather(static_cast<unsigned>(y), x, x + count, 0, featureCount,
                                centre.data(), tile.data(), kProjectionTilePixels, 1);
                for (int j = 0; j < dimensions; ++j) {
                    outputs[j] = target.getChannel(static_cast<unsigned>(j)) +
                                 static_cast<size_t>(y) * width + x;
                }
                projectTile(tile.data(), count, featureCount, axes.getData(), dimensions,
                            outputs.data());
            }
        }
    }
}

}  // namespace

CpuTexture SourceVector<CpuFiltering>::toNonLocalMeansSpace(const CpuTexture& source, int radius,
                                                            int dimensions) {
    const PatchFeatures features(source, radius);
    const int featureCount = features.count();
    const int outputCount =
        dimensions >= 1 && dimensions <= featureCount ? dimensions : featureCount;

    const std::vector<float> centre = features.means();
    const CpuMatrix scatter = scatterMatrix(features, centre);
    CpuMatrix axes, values;
    eigenDecompose(scatter, kEigenTolerance, axes, values);

    CpuTexture result(nullptr, source.getWidth(), source.getHeight(),
                      static_cast<unsigned>(outputCount), true);
    if (features.pixels() > 0 && outputCount > 0) {
        project(features, centre, axes, result);
    }
    return result;
}

void SourceVector<CpuFiltering>::multiplyTexture(CpuTexture& texture, float factor) {
    const unsigned pixels = texture.getPixelsCount();
    for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
        float* plane = texture.getChannel(c);
        for (unsigned j = 0; j < pixels; ++j) {
            plane[j] = plane[j] / factor;
        }
    }
}

}  // namespace quendel
