#pragma once

#include <cstddef>

namespace quendel {

/// Eight floats handled as one value by the compiler's vector extension:
/// whole-vector adds and multiplies round each lane exactly as the scalar
/// operations would. Loads and stores through it need no alignment.
inline constexpr std::size_t kFloatLanes = 8;
using FloatLanes =
    float __attribute__((vector_size(kFloatLanes * sizeof(float)), aligned(4), may_alias));

/// A vector read or written at any float's address, in one move:
/// `reinterpret_cast<const Unaligned<V>*>(address)->value`. Through a packed
/// struct because clang keeps a vector type's natural alignment whatever its
/// typedef asks, and a fixed-size memcpy is split into the baseline's 16-byte
/// moves in the per-set copies of a loop.
template <typename Vector>
struct __attribute__((packed, may_alias)) Unaligned {
    Vector value;
};

/// FloatLanes at any float's address, for the same reason:
/// `reinterpret_cast<const UnalignedFloatLanes*>(address)->value`.
struct __attribute__((packed, aligned(4), may_alias)) UnalignedFloatLanes {
    FloatLanes value;
};

}  // namespace quendel
