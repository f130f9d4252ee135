#pragma once

#include <algorithm>
#include <cmath>
#include <random>

#include "quendel/texture.h"

// The benchmarks' frame: smooth shapes with hard edges under noise, values in
// [0, 1], the same for a given seed in every benchmark.
inline quendel::CpuTexture benchmarkImage(unsigned size, unsigned channels, unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    quendel::CpuTexture image(nullptr, size, size, channels, true);
    const float extent = static_cast<float>(size);
    for (unsigned c = 0; c < channels; ++c) {
        float* plane = image.getChannel(c);
        const float phase = 0.7f * static_cast<float>(c + seed);
        for (unsigned y = 0; y < size; ++y) {
            for (unsigned x = 0; x < size; ++x) {
                const float u = static_cast<float>(x) / extent, v = static_cast<float>(y) / extent;
                const float disc = (u - 0.5f) * (u - 0.5f) + (v - 0.4f) * (v - 0.4f) < 0.06f;
                const float wave = 0.5f + 0.25f * std::sin(9.0f * u + phase) * std::cos(7.0f * v);
                const float value = 0.6f * wave + 0.4f * disc + noise(generator);
                plane[y * size + x] = std::min(1.0f, std::max(0.0f, value));
            }
        }
    }
    return image;
}
