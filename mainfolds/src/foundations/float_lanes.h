#pragma once

#include <cstddef>

namespace quendel {

/// Eight floats handled as one value by the compiler's vector extension:
/// whole-vector adds and multiplies round each lane exactly as the scalar
/// operations would. Loads and stores through it need no alignment.
inline constexpr std::size_t kFloatLanes = 8;
using FloatLanes =
    float __attribute__((vector_size(kFloatLanes * sizeof(float)), aligned(4), may_alias));

}  // namespace quendel
