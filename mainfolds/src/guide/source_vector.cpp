#include "quendel/source_vector.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "foundations/float_lanes.h"
#include "foundations/simd_dispatch.h"
#include "foundations/team_for_work.h"
#include "guide/eigen.h"
#include "guide/patch_features.h"
#include "guide/scatter_matrix.h"
#include "quendel/matrix.h"

namespace quendel {

namespace {

constexpr float kEigenTolerance = 0.001f;
constexpr unsigned kProjectionTilePixels = 256;

// Divisors this close to 1 are taken as 1.
bool dividesBy(float divisor) {
    return std::fabs(divisor - 1.0f) > 0.0001f;
}

// Output channels [j0, j0 + Count) of eight pixels from `p`: each sums
// feature_i * axes[i][j] over i in increasing order, in registers.
template <int Count>
QUENDEL_ALWAYS_INLINE void projectLanes(const float* tile, unsigned p, int featureCount,
                                        const float* axes, int j0, float* const* outputs) {
    FloatLanes sums[Count] = {};
    for (int i = 0; i < featureCount; ++i) {
        const FloatLanes feature = reinterpret_cast<const UnalignedFloatLanes*>(
                                       tile + static_cast<size_t>(i) * kProjectionTilePixels + p)
                                       ->value;
        const float* axisRow = axes + static_cast<size_t>(i) * featureCount + j0;
        for (int q = 0; q < Count; ++q) {
            sums[q] = sums[q] + feature * axisRow[q];
        }
    }
    for (int q = 0; q < Count; ++q) {
        reinterpret_cast<UnalignedFloatLanes*>(outputs[j0 + q] + p)->value = sums[q];
    }
}

// outputs[j][p] = sum over i of feature_i(p) * axes[i][j], for whole lanes
// of pixels: tiles and outputs hold a whole number of lanes.
QUENDEL_ALWAYS_INLINE void projectTileBody(const float* tile, unsigned pixelCount, int featureCount,
                                           const float* axes, int dimensions,
                                           float* const* outputs) {
    for (unsigned p = 0; p < pixelCount; p += kFloatLanes) {
        int j = 0;
        for (; j + 4 <= dimensions; j += 4)
            projectLanes<4>(tile, p, featureCount, axes, j, outputs);
        switch (dimensions - j) {
            case 3:
                projectLanes<3>(tile, p, featureCount, axes, j, outputs);
                break;
            case 2:
                projectLanes<2>(tile, p, featureCount, axes, j, outputs);
                break;
            case 1:
                projectLanes<1>(tile, p, featureCount, axes, j, outputs);
                break;
            default:
                break;
        }
    }
}
QUENDEL_SIMD_DISPATCH(projectTile, projectTileBody)

// Projects the centred features of every pixel on the first `dimensions`
// columns of `axes`; rows are spread over the team.
void project(const PatchFeatures& features, const std::vector<float>& centre, const CpuMatrix& axes,
             float divisor, CpuTexture& target) {
    const bool divides = dividesBy(divisor);
    const int featureCount = features.count();
    const int dimensions = static_cast<int>(target.getChannelsCount());
    const unsigned width = features.width();
    const int height = static_cast<int>(features.height());
#pragma omp parallel num_threads(workerCount())
    {
        std::vector<float> tile(static_cast<size_t>(featureCount) * kProjectionTilePixels, 0.0f);
        std::vector<float> projected(static_cast<size_t>(dimensions) * kProjectionTilePixels);
        std::vector<float*> outputs(static_cast<size_t>(dimensions));
        for (int j = 0; j < dimensions; ++j) {
            outputs[j] = projected.data() + static_cast<size_t>(j) * kProjectionTilePixels;
        }
#pragma omp for schedule(static)
        for (int y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; x += kProjectionTilePixels) {
                const unsigned count = std::min(kProjectionTilePixels, width - x);
                features.gather(static_cast<unsigned>(y), x, x + count, 0, featureCount,
                                centre.data(), tile.data(), kProjectionTilePixels, 1);
                projectTile(tile.data(), count, featureCount, axes.getData(), dimensions,
                            outputs.data());
                for (int j = 0; j < dimensions; ++j) {
                    float* row = target.getChannel(static_cast<unsigned>(j)) +
                                 static_cast<size_t>(y) * width + x;
                    if (divides) {
                        std::transform(outputs[j], outputs[j] + count, row,
                                       [divisor](float value) { return value / divisor; });
                    } else {
                        std::copy(outputs[j], outputs[j] + count, row);
                    }
                }
            }
        }
    }
}

}  // namespace

CpuTexture SourceVector<CpuFiltering>::toNonLocalMeansSpace(const CpuTexture& source, int radius,
                                                            int dimensions) {
    return toScaledNonLocalMeansSpace(source, radius, dimensions, 1.0f);
}

CpuTexture SourceVector<CpuFiltering>::toScaledNonLocalMeansSpace(const CpuTexture& source,
                                                                  int radius, int dimensions,
                                                                  float divisor) {
    const PatchFeatures features(source, radius);
    const int featureCount = features.count();
    const int outputCount =
        dimensions >= 1 && dimensions <= featureCount ? dimensions : featureCount;

    const std::vector<float> centre = features.means();
    const CpuMatrix scatter = scatterMatrix(features, centre);
    CpuMatrix axes, values;
    eigenDecompose(scatter, kEigenTolerance, axes, values);

    // The projection writes every value of every plane.
    CpuTexture result(nullptr, source.getWidth(), source.getHeight(), 0, true);
    for (int j = 0; j < outputCount; ++j) {
        result.appendPlane(
            std::make_shared<CpuTexture::Plane>(UnsetValues(), UnsetValues(features.pixels())));
    }
    if (features.pixels() > 0 && outputCount > 0) {
        project(features, centre, axes, divisor, result);
    }
    return result;
}

void SourceVector<CpuFiltering>::multiplyTexture(CpuTexture& texture, float factor) {
    // Each value is divided on its own, so the team's split cannot show.
    const long pixels = static_cast<long>(texture.getPixelsCount());
    for (unsigned c = 0; c < texture.getChannelsCount(); ++c) {
        float* plane = texture.getChannel(c);
#pragma omp parallel for num_threads(workerCount()) schedule(static)
        for (long j = 0; j < pixels; ++j) {
            plane[j] = plane[j] / factor;
        }
    }
}

namespace {

unsigned channelsTaken(const SourceEntry& entry) {
    return std::min(static_cast<unsigned>(std::max(entry.channels, 0)),
                    entry.texture.getChannelsCount());
}

// Each value is divided on its own, so the team's split cannot show;
// `target` may be `source`.
void divideInto(const float* source, long pixels, float divisor, bool divides, float* target) {
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (long j = 0; j < pixels; ++j) {
        target[j] = divides ? source[j] / divisor : source[j];
    }
}

CpuTexture::PlaneHandle dividedCopy(const float* source, long pixels, float divisor, bool divides) {
    auto copy = std::make_shared<CpuTexture::Plane>(UnsetValues(),
                                                    UnsetValues(static_cast<size_t>(pixels)));
    divideInto(source, pixels, divisor, divides, copy->data());
    return copy;
}

}  // namespace

void SourceVector<CpuFiltering>::appendDividedCopies(const SourceEntry& entry, float divisor,
                                                     CpuTexture& target) {
    const bool divides = dividesBy(divisor);
    const long pixels = static_cast<long>(entry.texture.getPixelsCount());
    const unsigned count = channelsTaken(entry);
    for (unsigned c = 0; c < count; ++c) {
        target.appendPlane(dividedCopy(entry.texture.getChannel(c), pixels, divisor, divides));
    }
}

void SourceVector<CpuFiltering>::appendDividedPlanes(SourceEntry&& entry, float divisor,
                                                     CpuTexture& target) {
    const bool divides = dividesBy(divisor);
    const long pixels = static_cast<long>(entry.texture.getPixelsCount());
    const unsigned count = channelsTaken(entry);
    std::vector<CpuTexture::PlaneHandle> planes;
    for (unsigned c = 0; c < count; ++c) {
        planes.push_back(entry.texture.planeHandle(c));
    }
    entry.texture = CpuTexture();
    for (CpuTexture::PlaneHandle& plane : planes) {
        if (plane.use_count() == 1) {
            if (divides) {
                divideInto(plane->data(), pixels, divisor, true, plane->data());
            }
            target.appendPlane(std::move(plane));
        } else {
            target.appendPlane(dividedCopy(plane->data(), pixels, divisor, divides));
            plane.reset();
        }
    }
}

}  // namespace quendel
