#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace filtering {

namespace median_detail {

// The float's bits as an unsigned number in the order of the floats.
inline std::uint32_t orderedKey(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

// Below this many values a plain selection is as quick as counting first.
constexpr std::size_t kWorthCounting = std::size_t{1} << 14;
constexpr int kBucketShift = 16;

}  // namespace median_detail

/// The median of the values (the upper one of an even count), which may be
/// reordered and shortened; 0 for none. No value may be NaN.
inline float medianInPlace(std::vector<float>& values) {
    using namespace median_detail;
    if (values.empty()) {
        return 0.0f;
    }
    std::size_t rank = values.size() / 2;
    if (values.size() >= kWorthCounting) {
        // Count the values by their leading bits, keep only the bucket that
        // holds the median and select within it: the selection then sorts a
        // few per cent of the values.
        std::vector<std::uint32_t> counts(std::size_t{1} << (32 - kBucketShift), 0);
        for (const float value : values) {
            ++counts[orderedKey(value) >> kBucketShift];
        }
        std::size_t below = 0;
        std::uint32_t bucket = 0;
        while (below + counts[bucket] <= rank) {
            below += counts[bucket++];
        }
        std::size_t kept = 0;
        for (const float value : values) {
            if (orderedKey(value) >> kBucketShift == bucket) {
                values[kept++] = value;
            }
        }
        values.resize(kept);
        rank -= below;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(rank);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace filtering
