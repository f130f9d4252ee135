#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace filtering {

/// The median of the values (the upper one of an even count), which are
/// reordered; 0 for none.
inline float medianInPlace(std::vector<float>& values) {
    if (values.empty()) {
        return 0.0f;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace filtering
