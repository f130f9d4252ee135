#pragma once

// A plain, unoptimised build of the guide's patch description: every
// feature plane stored, every scatter entry summed on its own. Tests hold
// the library's streaming version to it bit for bit.

#include <cmath>
#include <cstddef>
#include <vector>

#include "guide/eigen.h"
#include "quendel/matrix.h"
#include "quendel/texture.h"

namespace guide_reference {

using Plane = std::vector<float>;

inline float meanOf(const float* values, size_t count) {
    float sum = 0.0f;
    for (size_t i = 0; i < count; ++i) sum = sum + values[i];
    return sum / static_cast<float>(count);
}

// Centred, weighted patch planes, feature k * C + c.
inline std::vector<Plane> centredPatchPlanes(const quendel::CpuTexture& source, int radius) {
    const int w = static_cast<int>(source.getWidth());
    const int h = static_cast<int>(source.getHeight());
    const int channels = static_cast<int>(source.getChannelsCount());
    const size_t n = static_cast<size_t>(w) * h;
    const int side = 2 * radius + 1;
    std::vector<Plane> planes(static_cast<size_t>(side * side * channels), Plane(n, 0.0f));
    std::vector<float> means(channels);
    for (int c = 0; c < channels; ++c) means[c] = meanOf(source.getChannel(c), n);
    for (int x = 0; x < w; ++x) {
        for (int y = 0; y < h; ++y) {
            for (int dx = -radius; dx <= radius; ++dx) {
                for (int dy = -radius; dy <= radius; ++dy) {
                    const int k = (dx + radius) * side + (dy + radius);
                    const float numerator = 0.5f * static_cast<float>(dx * dx + dy * dy);
                    const float quotient = static_cast<float>(-numerator / (0.5 * radius));
                    const float weight = static_cast<float>(std::exp(double{quotient}));
                    const int xs = x + dx >= 0 && x + dx < w ? x + dx : 0;
                    const int ys = y + dy >= 0 && y + dy < h ? y + dy : 0;
                    for (int c = 0; c < channels; ++c) {
                        const float sample = source.getChannel(c)[ys * w + xs];
                        planes[k * channels + c][y * w + x] = (sample - means[c]) * weight;
                    }
                }
            }
        }
    }
    for (Plane& plane : planes) {
        const float mean = meanOf(plane.data(), n);
        for (float& v : plane) v = v - mean;
    }
    return planes;
}

// Each entry: four partial sums over the blocks a static four-way split
// gives (the first n % 4 blocks one pixel longer), added in block order.
inline quendel::CpuMatrix scatter(const std::vector<Plane>& planes) {
    const int d = static_cast<int>(planes.size());
    const size_t n = planes.empty() ? 0 : planes[0].size();
    quendel::CpuMatrix m(d, d);
    for (int i = 0; i < d; ++i) {
        for (int j = 0; j <= i; ++j) {
            float total = 0.0f;
            size_t begin = 0;
            for (size_t b = 0; b < 4; ++b) {
                const size_t end = begin + n / 4 + (b < n % 4 ? 1 : 0);
                float partial = 0.0f;
                for (size_t p = begin; p < end; ++p)
                    partial = partial + planes[i][p] * planes[j][p];
                total = total + partial;
                begin = end;
            }
            m.getData()[i * d + j] = total;
            m.getData()[j * d + i] = total;
        }
    }
    return m;
}

// The projected patch description with `dimensions` output planes.
inline std::vector<Plane> nonLocalMeans(const quendel::CpuTexture& source, int radius,
                                        int dimensions) {
    const std::vector<Plane> planes = centredPatchPlanes(source, radius);
    const int d = static_cast<int>(planes.size());
    quendel::CpuMatrix vectors, values;
    quendel::eigenDecompose(scatter(planes), 0.001f, vectors, values);
    const size_t n = planes.empty() ? 0 : planes[0].size();
    std::vector<Plane> out(static_cast<size_t>(dimensions), Plane(n, 0.0f));
    for (int i = 0; i < d; ++i) {
        for (size_t p = 0; p < n; ++p) {
            for (int j = 0; j < dimensions; ++j) {
                out[j][p] = out[j][p] + planes[i][p] * vectors.getData()[i * d + j];
            }
        }
    }
    return out;
}

}  // namespace guide_reference
