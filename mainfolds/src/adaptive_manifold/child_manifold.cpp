#include "adaptive_manifold/child_manifold.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "adaptive_manifold/bilinear_samples.h"
#include "adaptive_manifold/row_enlarger.h"
#include "adaptive_manifold/squared_distances.h"
#include "foundations/plane_pointers.h"
#include "foundations/simd_dispatch.h"
#include "foundations/team_for_work.h"
#include "foundations/texture_sizes.h"

namespace quendel {

namespace {

constexpr float kMinimumDenominator = 0.000001f;

// 2^k by repeated squaring; the reciprocal for negative k.
float powerOfTwo(int k) {
    unsigned exponent = static_cast<unsigned>(k < 0 ? -static_cast<long long>(k) : k);
    float base = 2.0f;
    float result = 1.0f;
    while (exponent != 0) {
        if (exponent & 1u) {
            result = result * base;
        }
        base = base * base;
        exponent >>= 1;
    }
    return k < 0 ? 1.0f / result : result;
}

// A denominator that is not a number counts as below the clamp.
inline float clampDenominator(float d) {
    return d > kMinimumDenominator ? d : kMinimumDenominator;
}

// What a pixel contributes to a child: (1 - w) inside the cluster, zero
// outside it, so that pixels of other clusters do not leak into this one.
inline float maskedWeight(unsigned char member, float parentWeight) {
    return member ? 1.0f - parentWeight : 0.0f;
}

// The mask, and the guide times the mask, over [begin, end) of full planes.
// The guide is read `guideOffset` further on than the other arrays.
QUENDEL_ALWAYS_INLINE void maskBlockBody(const unsigned char* member, const float* parentWeights,
                                         const float* const* guide, unsigned channels,
                                         std::size_t begin, std::size_t end, float* const* planes,
                                         std::size_t guideOffset = 0) {
    float* denominator = planes[channels];
    for (std::size_t p = begin; p < end; ++p) {
        denominator[p] = maskedWeight(member[p], parentWeights[p]);
    }
    for (unsigned c = 0; c < channels; ++c) {
        const float* g = guide[c] + guideOffset;
        float* numerator = planes[c];
        for (std::size_t p = begin; p < end; ++p) {
            const float product = denominator[p] * g[p];
            numerator[p] = member[p] ? product : 0.0f;
        }
    }
}
QUENDEL_SIMD_DISPATCH(maskBlock, maskBlockBody)

QUENDEL_ALWAYS_INLINE void blendRowsBody(const float* row0, const float* row1, float fraction,
                                         unsigned count, float* out) {
    for (unsigned i = 0; i < count; ++i) {
        out[i] = blend(row0[i], row1[i], fraction);
    }
}
QUENDEL_SIMD_DISPATCH(blendRows, blendRowsBody)

QUENDEL_ALWAYS_INLINE void divideRowBody(const float* numerator, const float* denominator,
                                         unsigned count, float* out) {
    for (unsigned i = 0; i < count; ++i) {
        out[i] = numerator[i] / denominator[i];
    }
}
QUENDEL_SIMD_DISPATCH(divideRow, divideRowBody)

QUENDEL_ALWAYS_INLINE void subtractQuotientRowBody(const float* guide, const float* numerator,
                                                   const float* denominator, unsigned count,
                                                   float* out) {
    for (unsigned i = 0; i < count; ++i) {
        const float manifold = numerator[i] / denominator[i];
        out[i] = guide[i] - manifold;
    }
}
QUENDEL_SIMD_DISPATCH(subtractQuotientRow, subtractQuotientRowBody)

// One row of the new manifold, or of the guide's distance to it.
void writeQuotientRow(ChildManifoldBuilder::Output output, const float* guide,
                      const float* numerator, const float* denominator, unsigned count,
                      float* out) {
    if (output == ChildManifoldBuilder::Output::Manifold) {
        divideRow(numerator, denominator, count, out);
    } else {
        subtractQuotientRow(guide, numerator, denominator, count, out);
    }
}

// Where one stretch of result rows goes: into the target planes at an
// offset, or into scratch rows of a thread when only their squares are kept.
class ResultRows {
  public:
    ResultRows(unsigned channels, std::size_t scratchLength)
        : scratch(channels * scratchLength), rows(channels), length(scratchLength) {}

    float* const* at(const std::vector<float*>& target, std::size_t offset) {
        for (std::size_t c = 0; c < rows.size(); ++c) {
            rows[c] = length != 0 ? scratch.data() + c * length : target[c] + offset;
        }
        return rows.data();
    }

  private:
    std::vector<float> scratch;
    std::vector<float*> rows;
    std::size_t length;
};

}  // namespace

ChildSmoothing childSmoothing(float sigmaS, float sigmaR, unsigned width, unsigned height) {
    const ChildSmoothing fullSize{false, width, height, sigmaS};
    const float df = std::min(sigmaS * 0.25f, sigmaR * 256.0f);
    const float levels = std::floor(std::log(df) / std::log(2.0f));
    if (std::isnan(levels)) {
        return fullSize;
    }
    // Past +-200 the power is infinite or zero anyway; the clamp keeps the
    // conversion to int defined.
    const float power = powerOfTwo(static_cast<int>(std::clamp(levels, -200.0f, 200.0f)));
    const float factor = sigmaS / power >= 1.0f ? sigmaS / power : 1.0f;
    if (factor <= 1.0f) {
        return fullSize;
    }
    const unsigned reducedWidth = static_cast<unsigned>(static_cast<float>(width) / factor);
    const unsigned reducedHeight = static_cast<unsigned>(static_cast<float>(height) / factor);
    return ChildSmoothing{true, std::max(1u, reducedWidth), std::max(1u, reducedHeight),
                          sigmaS / factor};
}

ChildManifoldBuilder::ChildManifoldBuilder(Smoother smoother_) : smoother(std::move(smoother_)) {}

void ChildManifoldBuilder::build(const PixelList& cluster, const float* parentWeights,
                                 const CpuTexture& features, float sigmaS, float sigmaR,
                                 CpuTexture& target, Output output, float* squaredDistances) {
    const unsigned width = features.getWidth();
    const unsigned height = features.getHeight();
    if (width == 0 || height == 0) {
        return;
    }
    markCluster(cluster, width, height);
    const ChildSmoothing smoothing = childSmoothing(sigmaS, sigmaR, width, height);
    if (output == Output::Manifold) {
        squaredDistances = nullptr;
    } else if (output == Output::SquaredDistancesOnly && squaredDistances == nullptr) {
        return;
    }
    if (smoothing.reduced) {
        buildReduced(parentWeights, features, smoothing, target, output, squaredDistances);
    } else {
        buildFullSize(parentWeights, features, smoothing.sigma, target, output, squaredDistances);
    }
}

void ChildManifoldBuilder::markCluster(const PixelList& cluster, unsigned width, unsigned height) {
    inCluster.assign(static_cast<std::size_t>(width) * height, 0);
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(cluster.size());
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const PixelCoord pixel = cluster[i];
        inCluster[static_cast<std::size_t>(pixel.y) * width + pixel.x] = 1;
    }
}

void ChildManifoldBuilder::buildFullSize(const float* parentWeights, const CpuTexture& features,
                                         float sigma, CpuTexture& target, Output output,
                                         float* squaredDistances) {
    const unsigned channels = features.getChannelsCount();
    ensureTextureSize(planes, features.getWidth(), features.getHeight(), channels + 1);
    const std::vector<const float*> guide = readPlanes(features);
    const std::vector<float*> work = writePlanes(planes);
    const std::ptrdiff_t pixels = features.getPixelsCount();
    constexpr std::ptrdiff_t kBlock = 4096;
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (std::ptrdiff_t begin = 0; begin < pixels; begin += kBlock) {
        maskBlock(inCluster.data(), parentWeights, guide.data(), channels,
                  static_cast<std::size_t>(begin),
                  static_cast<std::size_t>(std::min(pixels, begin + kBlock)), work.data());
    }
    smoother(planes, sigma);

    const float* denominator = planes.getChannel(channels);
    const bool squaresOnly = output == Output::SquaredDistancesOnly;
    const std::vector<float*> out = squaresOnly ? std::vector<float*>() : writePlanes(target);
#pragma omp parallel num_threads(workerCount())
    {
        std::vector<float> clamped(static_cast<std::size_t>(kBlock));
        ResultRows results(channels, squaresOnly ? static_cast<std::size_t>(kBlock) : 0);
#pragma omp for schedule(static)
        for (std::ptrdiff_t begin = 0; begin < pixels; begin += kBlock) {
            const unsigned count = static_cast<unsigned>(std::min(kBlock, pixels - begin));
            for (unsigned i = 0; i < count; ++i) {
                clamped[i] = clampDenominator(denominator[begin + i]);
            }
            float* const* rows = results.at(out, static_cast<std::size_t>(begin));
            for (unsigned c = 0; c < channels; ++c) {
                writeQuotientRow(output, guide[c] + begin, work[c] + begin, clamped.data(), count,
                                 rows[c]);
            }
            if (squaredDistances != nullptr) {
                sumSquares(rows, channels, 0, count, squaredDistances + begin);
            }
        }
    }
}

// Horizontal samples of one row of blended values.
QUENDEL_ALWAYS_INLINE void sampleRowBody(const float* row0, const float* row1, float ty,
                                         const AxisSamples& columns, unsigned count, float* out) {
    const unsigned* first = columns.first.data();
    const unsigned* second = columns.second.data();
    const float* fraction = columns.fraction.data();
    for (unsigned x = 0; x < count; ++x) {
        const float left = blend(row0[first[x]], row1[first[x]], ty);
        const float right = blend(row0[second[x]], row1[second[x]], ty);
        out[x] = blend(left, right, fraction[x]);
    }
}
QUENDEL_SIMD_DISPATCH(sampleRow, sampleRowBody)

// Resampling to the reduced size reads the masked planes only on the rows
// where the samples fall, so only those rows are masked, into a thread's
// scratch, and the planes are never stored at full size.
void ChildManifoldBuilder::sampleMaskedPlanes(const float* parentWeights,
                                              const CpuTexture& features) {
    const unsigned width = features.getWidth();
    const unsigned channels = features.getChannelsCount();
    const unsigned smallWidth = smallPlanes.getWidth();
    const int smallHeight = static_cast<int>(smallPlanes.getHeight());
    const AxisSamples rows = axisSamples(features.getHeight(), smallPlanes.getHeight());
    const AxisSamples columns = axisSamples(width, smallWidth);
    const std::vector<const float*> guide = readPlanes(features);
    const std::vector<float*> small = writePlanes(smallPlanes);
    const unsigned char* member = inCluster.data();
#pragma omp parallel num_threads(workerCount())
    {
        // The masked planes (guide channels, then the mask) of both rows.
        std::vector<float> masked(std::size_t{2} * (channels + 1) * width);
        std::vector<float*> upper(channels + 1), lower(channels + 1);
        for (unsigned c = 0; c <= channels; ++c) {
            upper[c] = masked.data() + std::size_t{c} * width;
            lower[c] = masked.data() + std::size_t{channels + 1 + c} * width;
        }
#pragma omp for schedule(static)
        for (int y = 0; y < smallHeight; ++y) {
            const std::size_t row0 = static_cast<std::size_t>(rows.first[y]) * width;
            const std::size_t row1 = static_cast<std::size_t>(rows.second[y]) * width;
            maskBlock(member + row0, parentWeights + row0, guide.data(), channels, 0, width,
                      upper.data(), row0);
            maskBlock(member + row1, parentWeights + row1, guide.data(), channels, 0, width,
                      lower.data(), row1);
            for (unsigned c = 0; c <= channels; ++c) {
                sampleRow(upper[c], lower[c], rows.fraction[y], columns, smallWidth,
                          small[c] + static_cast<std::size_t>(y) * smallWidth);
            }
        }
    }
}

// Back to full size and divided in one pass: the full-size numerators and
// denominator are never stored.
void ChildManifoldBuilder::divideResampled(const CpuTexture& features, CpuTexture& target,
                                           Output output, float* squaredDistances) const {
    const unsigned width = target.getWidth();
    const int height = static_cast<int>(target.getHeight());
    const unsigned channels = target.getChannelsCount();
    const unsigned smallWidth = smallPlanes.getWidth();
    const AxisSamples rows = axisSamples(smallPlanes.getHeight(), target.getHeight());
    const RowEnlarger columns(smallWidth, width);
    const std::vector<const float*> small = readPlanes(smallPlanes);
    const std::vector<const float*> guide = readPlanes(features);
    const bool squaresOnly = output == Output::SquaredDistancesOnly;
    const std::vector<float*> out = squaresOnly ? std::vector<float*>() : writePlanes(target);
#pragma omp parallel num_threads(workerCount())
    {
        ResultRows results(channels, squaresOnly ? width : 0);
        std::vector<float> smallRow(smallWidth + RowEnlarger::kReadPast);
        std::vector<float> fullRow(width);
        std::vector<float> denominator(width);
#pragma omp for schedule(static)
        for (int y = 0; y < height; ++y) {
            const std::size_t row0 = static_cast<std::size_t>(rows.first[y]) * smallWidth;
            const std::size_t row1 = static_cast<std::size_t>(rows.second[y]) * smallWidth;
            const float ty = rows.fraction[y];
            auto resampleRow = [&](const float* plane, float* out) {
                blendRows(plane + row0, plane + row1, ty, smallWidth, smallRow.data());
                columns.enlarge(smallRow.data(), out);
            };
            resampleRow(small[channels], denominator.data());
            for (float& d : denominator) {
                d = clampDenominator(d);
            }
            const std::size_t row = static_cast<std::size_t>(y) * width;
            float* const* rows = results.at(out, row);
            for (unsigned c = 0; c < channels; ++c) {
                resampleRow(small[c], fullRow.data());
                writeQuotientRow(output, guide[c] + row, fullRow.data(), denominator.data(), width,
                                 rows[c]);
            }
            // While the row's distances are still in the cache.
            if (squaredDistances != nullptr) {
                sumSquares(rows, channels, 0, width, squaredDistances + row);
            }
        }
    }
}

void ChildManifoldBuilder::buildReduced(const float* parentWeights, const CpuTexture& features,
                                        const ChildSmoothing& smoothing, CpuTexture& target,
                                        Output output, float* squaredDistances) {
    const unsigned count = features.getChannelsCount() + 1;
    ensureTextureSize(smallPlanes, smoothing.width, smoothing.height, count);
    sampleMaskedPlanes(parentWeights, features);
    smoother(smallPlanes, smoothing.sigma);
    divideResampled(features, target, output, squaredDistances);
}

}  // namespace quendel
