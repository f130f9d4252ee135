#pragma once

#include <cstdint>

namespace sample_frame {

/// Small permuted congruential generator; one per pixel, so a frame does not
/// depend on how pixels are spread over threads.
class Random {
  public:
    /// Independent streams for every (seed, pixel, stream) triple.
    Random(uint64_t seed, uint64_t pixel, uint64_t stream) {
        increment = (mix(stream ^ (seed << 20)) << 1u) | 1u;
        state = 0;
        next();
        state += mix(seed * 0x9E3779B97F4A7C15ull + pixel);
        next();
    }

    uint32_t next() {
        const uint64_t old = state;
        state = old * 6364136223846793005ull + increment;
        const auto shifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
        const auto rotation = static_cast<uint32_t>(old >> 59u);
        return (shifted >> rotation) | (shifted << ((-rotation) & 31u));
    }

    /// Uniform in [0, 1).
    float uniform() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }

  private:
    static uint64_t mix(uint64_t z) {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    uint64_t state;
    uint64_t increment;
};

}  // namespace sample_frame
