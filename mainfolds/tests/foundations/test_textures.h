#pragma once

// Textures the host and device tests draw and compare.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "quendel/texture.h"

namespace quendel::test {

/// Values drawn uniformly from [low, high), plane after plane.
inline CpuTexture randomTexture(unsigned width, unsigned height, unsigned channels, unsigned seed,
                                float low = 0.0f, float high = 1.0f) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(low, high);
    CpuTexture texture(nullptr, width, height, channels, true);
    for (unsigned c = 0; c < channels; ++c) {
        for (unsigned p = 0; p < width * height; ++p) {
            texture.getChannel(c)[p] = value(generator);
        }
    }
    return texture;
}

inline ::testing::AssertionResult sameBits(const CpuTexture& actual, const CpuTexture& expected) {
    if (!actual.hasSize(expected.getWidth(), expected.getHeight(), expected.getChannelsCount())) {
        return ::testing::AssertionFailure() << "sizes differ";
    }
    for (unsigned c = 0; c < actual.getChannelsCount(); ++c) {
        for (unsigned p = 0; p < actual.getPixelsCount(); ++p) {
            const float a = actual.getChannel(c)[p];
            const float e = expected.getChannel(c)[p];
            if (std::memcmp(&a, &e, sizeof a) != 0) {
                return ::testing::AssertionFailure()
                       << "channel " << c << " pixel " << p << ": " << a << " instead of " << e;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace quendel::test
