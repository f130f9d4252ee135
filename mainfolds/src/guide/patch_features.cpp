#include "guide/patch_features.h"

#include <algorithm>
#include <cmath>

#include "foundations/float_lanes.h"
#include "foundations/lane_transpose.h"
#include "foundations/simd_dispatch.h"
#include "foundations/team_for_work.h"

namespace quendel {

namespace {

float offsetWeight(int dx, int dy, int radius) {
    const float numerator = 0.5f * static_cast<float>(dx * dx + dy * dy);
    const float quotient = static_cast<float>(-numerator / (0.5 * radius));
    return static_cast<float>(std::exp(static_cast<double>(quotient)));
}

// target[x] = (shifted[x] - mean) * weight - centre for x in [begin, end).
QUENDEL_ALWAYS_INLINE void weighShiftedSamplesBody(const float* shifted, float mean, float weight,
                                                   float centre, long begin, long end,
                                                   float* target) {
    for (long x = begin; x < end; ++x) {
        target[x] = (shifted[x] - mean) * weight - centre;
    }
}

QUENDEL_SIMD_DISPATCH(weighShiftedSamples, weighShiftedSamplesBody)

constexpr int kBlockFeatures = 8;
constexpr unsigned kBlockPixels = 128;

// target[p * pixelStride + f] = block[f * kBlockPixels + p] for the first
// `features` rows of the block; eight pixels at a time by a transposition
// in registers, which also writes zeros to the columns from `features` to 8.
QUENDEL_ALWAYS_INLINE void pixelMajorBody(const float* block, int features, unsigned pixels,
                                          float* target, size_t pixelStride) {
    unsigned p = 0;
    for (; p + kFloatLanes <= pixels; p += kFloatLanes) {
        FloatLanes m[kBlockFeatures];
        for (int f = 0; f < kBlockFeatures; ++f) {
            m[f] = f < features ? reinterpret_cast<const UnalignedFloatLanes*>(
                                      block + static_cast<size_t>(f) * kBlockPixels + p)
                                      ->value
                                : FloatLanes{};
        }
        transposeEight(m);
        for (unsigned q = 0; q < kFloatLanes; ++q) {
            reinterpret_cast<UnalignedFloatLanes*>(target + (p + q) * pixelStride)->value = m[q];
        }
    }
    for (; p < pixels; ++p) {
        for (int f = 0; f < features; ++f) {
            target[p * pixelStride + f] = block[f * kBlockPixels + p];
        }
    }
}
QUENDEL_SIMD_DISPATCH(pixelMajor, pixelMajorBody)

// Sums the features [first, last) over the whole image in pixel order,
// eight at a time so that eight independent chains overlap in registers.
void sumFeatures(const PatchFeatures& features, int first, int last, float* sums) {
    constexpr int kChains = 8;
    const unsigned width = features.width();
    std::vector<float> rows(static_cast<size_t>(kChains) * width);
    for (int i0 = first; i0 < last; i0 += kChains) {
        const int count = std::min(kChains, last - i0);
        std::fill(rows.begin(), rows.end(), 0.0f);
        float chains[kChains] = {};
        for (unsigned y = 0; y < features.height(); ++y) {
            features.gather(y, 0, width, i0, i0 + count, nullptr, rows.data(), width, 1);
            for (unsigned x = 0; x < width; ++x) {
                for (int f = 0; f < kChains; ++f) {
                    chains[f] = chains[f] + rows[static_cast<size_t>(f) * width + x];
                }
            }
        }
        std::copy(chains, chains + count, sums + (i0 - first));
    }
}

}  // namespace

std::vector<float> channelMeansOf(const CpuTexture& texture) {
    // Up to four channels advance together, their sums kept in registers.
    constexpr unsigned kTogether = 4;
    const unsigned channels = texture.getChannelsCount();
    const size_t pixels = static_cast<size_t>(texture.getWidth()) * texture.getHeight();
    std::vector<float> means(channels, 0.0f);
    for (unsigned c0 = 0; c0 < channels; c0 += kTogether) {
        const unsigned count = std::min(kTogether, channels - c0);
        const float* planes[kTogether];
        for (unsigned f = 0; f < kTogether; ++f) {
            planes[f] = texture.getChannel(c0 + std::min(f, count - 1));
        }
        float sums[kTogether] = {};
        for (size_t j = 0; j < pixels; ++j) {
            for (unsigned f = 0; f < kTogether; ++f) {
                sums[f] = sums[f] + planes[f][j];
            }
        }
        for (unsigned f = 0; f < count; ++f) {
            means[c0 + f] = sums[f] / static_cast<float>(pixels);
        }
    }
    return means;
}

PatchFeatures::PatchFeatures(const CpuTexture& source_, int radius_)
    : source(source_),
      radius(std::max(radius_, 1)),
      channels(static_cast<int>(source_.getChannelsCount())),
      featureCount((2 * radius + 1) * (2 * radius + 1) * channels),
      channelMeans(channelMeansOf(source_)) {
    for (int dx = -radius; dx <= radius; ++dx) {
        for (int dy = -radius; dy <= radius; ++dy) {
            weights.push_back(offsetWeight(dx, dy, radius));
        }
    }
}

void PatchFeatures::gatherOne(unsigned y, unsigned xBegin, unsigned xEnd, int feature, float centre,
                              float* out) const {
    if (xBegin >= xEnd) {
        return;
    }
    const int side = 2 * radius + 1;
    const int k = feature / channels;
    const int c = feature % channels;
    const int dx = k / side - radius;
    const int dy = k % side - radius;
    const long w = static_cast<long>(width());
    const long h = static_cast<long>(height());
    const long sampleY = static_cast<long>(y) + dy;
    const long rowIndex = sampleY >= 0 && sampleY < h ? sampleY : 0;
    const float* row = source.getChannel(static_cast<unsigned>(c)) + rowIndex * w;
    const float mean = channelMeans[static_cast<size_t>(c)];
    const float weight = weights[static_cast<size_t>(k)];

    // Columns whose sample lies inside the row; the rest read column 0.
    const long inside0 = std::clamp<long>(-dx, xBegin, xEnd);
    const long inside1 = std::clamp<long>(w - dx, inside0, xEnd);
    const float outside = (row[0] - mean) * weight - centre;
    float* target = out - xBegin;
    for (long x = xBegin; x < inside0; ++x) {
        target[x] = outside;
    }
    weighShiftedSamples(row + dx, mean, weight, centre, inside0, inside1, target);
    for (long x = inside1; x < static_cast<long>(xEnd); ++x) {
        target[x] = outside;
    }
}

void PatchFeatures::gather(unsigned y, unsigned xBegin, unsigned xEnd, int first, int last,
                           const float* centre, float* out, size_t featureStride,
                           size_t pixelStride) const {
    const auto subtrahend = [centre](int i) { return centre == nullptr ? 0.0f : centre[i]; };
    if (pixelStride == 1) {
        for (int i = first; i < last; ++i) {
            gatherOne(y, xBegin, xEnd, i, subtrahend(i),
                      out + static_cast<size_t>(i - first) * featureStride);
        }
        return;
    }
    // Rows of features are computed contiguously, a block at a time, and
    // then turned pixel-major: far cheaper than strided computation.
    float block[kBlockFeatures * kBlockPixels];
    for (unsigned x0 = xBegin; x0 < xEnd; x0 += kBlockPixels) {
        const unsigned pixels = std::min(kBlockPixels, xEnd - x0);
        for (int i0 = first; i0 < last; i0 += kBlockFeatures) {
            const int features = std::min(kBlockFeatures, last - i0);
            for (int f = 0; f < features; ++f) {
                gatherOne(y, x0, x0 + pixels, i0 + f, subtrahend(i0 + f), block + f * kBlockPixels);
            }
            float* target = out + static_cast<size_t>(x0 - xBegin) * pixelStride +
                            static_cast<size_t>(i0 - first) * featureStride;
            // Whole pixels of eight columns: the padding of a pixel-major
            // tile takes the zeros past the last feature.
            if (featureStride == 1 &&
                static_cast<size_t>(i0 - first) + kFloatLanes <= pixelStride) {
                pixelMajor(block, features, pixels, target, pixelStride);
                continue;
            }
            for (unsigned p = 0; p < pixels; ++p) {
                for (int f = 0; f < features; ++f) {
                    target[p * pixelStride + f * featureStride] = block[f * kBlockPixels + p];
                }
            }
        }
    }
}

std::vector<float> PatchFeatures::means() const {
    std::vector<float> sums(static_cast<size_t>(featureCount), 0.0f);
    const int groups = std::max(1, std::min(workerCount(), featureCount));
#pragma omp parallel for num_threads(workerCount()) schedule(static)
    for (int g = 0; g < groups; ++g) {
        const int first = static_cast<int>(static_cast<long>(featureCount) * g / groups);
        const int last = static_cast<int>(static_cast<long>(featureCount) * (g + 1) / groups);
        sumFeatures(*this, first, last, sums.data() + first);
    }
    const float n = static_cast<float>(pixels());
    for (float& sum : sums) {
        sum = sum / n;
    }
    return sums;
}

}  // namespace quendel
