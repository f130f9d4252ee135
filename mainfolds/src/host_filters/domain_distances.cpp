#include "host_filters/domain_distances.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "foundations/simd_dispatch.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quendel {

namespace {

// values[i] = domainDistance(weights, values[i]). The vector square root is
// the same correctly rounded operation as sqrtf, without its errno path.
QUENDEL_ALWAYS_INLINE void sumsToDistances(float* values, unsigned count, DistanceWeights weights) {
    unsigned i = 0;
#if defined(__SSE2__)
    const __m128 k0 = _mm_set1_ps(weights.k0);
    const __m128 k1 = _mm_set1_ps(weights.k1);
    for (; i + 4 <= count; i += 4) {
        const __m128 weighted = _mm_mul_ps(k1, _mm_loadu_ps(values + i));
        _mm_storeu_ps(values + i, _mm_sqrt_ps(_mm_add_ps(k0, weighted)));
    }
#endif
    for (; i < count; ++i) {
        values[i] = domainDistance(weights, values[i]);
    }
}

// Adds the squared differences of `count` channels, in channel order, to
// the sums of one row: to the left neighbours and, unless `vertical` is
// null, to the row above. Several channels per pass keep the sums in
// registers rather than storing and loading them once per channel.
template <std::size_t count>
QUENDEL_ALWAYS_INLINE void addChannels(float* __restrict horizontal, float* __restrict vertical,
                                       const float* const* guideRows, unsigned width) {
    const float* __restrict rows[count];
    for (std::size_t c = 0; c < count; ++c) {
        rows[c] = guideRows[c];
    }
    for (unsigned x = 1; x < width; ++x) {
        float sum = horizontal[x];
        for (std::size_t c = 0; c < count; ++c) {
            const float difference = rows[c][x] - rows[c][x - 1];
            sum = sum + difference * difference;
        }
        horizontal[x] = sum;
    }
    if (vertical != nullptr) {
        const float* __restrict above[count];
        for (std::size_t c = 0; c < count; ++c) {
            above[c] = rows[c] - width;
        }
        for (unsigned x = 0; x < width; ++x) {
            float sum = vertical[x];
            for (std::size_t c = 0; c < count; ++c) {
                const float difference = rows[c][x] - above[c][x];
                sum = sum + difference * difference;
            }
            vertical[x] = sum;
        }
    }
}

// Distances of one row to its left neighbours and, unless `vertical` is null
// (row 0), to the row above. Each guide row is used for both while it is in
// the nearest cache.
QUENDEL_ALWAYS_INLINE void distanceRowsBody(float* __restrict horizontal,
                                            float* __restrict vertical,
                                            const float* const* guideRows, std::size_t channels,
                                            unsigned width, DistanceWeights weights) {
    std::fill(horizontal + 1, horizontal + width, 0.0f);
    if (vertical != nullptr) {
        std::fill(vertical, vertical + width, 0.0f);
    }
    constexpr std::size_t kGroup = 4;
    std::size_t c = 0;
    for (; c + kGroup <= channels; c += kGroup) {
        addChannels<kGroup>(horizontal, vertical, guideRows + c, width);
    }
    for (; c < channels; ++c) {
        addChannels<1>(horizontal, vertical, guideRows + c, width);
    }
    sumsToDistances(horizontal + 1, width - 1, weights);
    if (vertical != nullptr) {
        sumsToDistances(vertical, width, weights);
    }
}
QUENDEL_SIMD_DISPATCH(distanceRows, distanceRowsBody)

}  // namespace

void computeDomainDistances(const CpuTexture& guide, DistanceWeights weights, float* horizontal,
                            float* vertical, int team) {
    const unsigned width = guide.getWidth();
    const unsigned height = guide.getHeight();
    if (width == 0 || height == 0) {
        return;
    }
    const unsigned channels = guide.getChannelsCount();
    std::vector<const float*> planes(channels);
    for (unsigned c = 0; c < channels; ++c) {
        planes[c] = guide.getChannel(c);
    }
#pragma omp parallel num_threads(team)
    {
        std::vector<const float*> rows(channels);
        // Rows go to whichever thread is free, sixteen at a time.
#pragma omp for schedule(dynamic, 16)
        for (unsigned y = 0; y < height; ++y) {
            const std::size_t offset = static_cast<std::size_t>(y) * width;
            for (unsigned c = 0; c < channels; ++c) {
                rows[c] = planes[c] + offset;
            }
            distanceRows(horizontal + offset, y > 0 ? vertical + offset : nullptr, rows.data(),
                         channels, width, weights);
        }
    }
}

}  // namespace quendel
