#pragma once

#include <cstddef>

namespace quendel {

/// out[i] = std::exp(values[i] * scale) for i < count, the product rounded
/// to single precision first, bit for bit what the C library's expf gives.
/// `out` may be `values`.
///
/// Where the C library is known to compute expf in double precision with
/// fused multiply-adds (GNU libc on a processor with FMA and AVX2), the same
/// steps run here four lanes at a time; anywhere else, and for arguments of
/// magnitude 88 and above or not a number, expf itself is called.
void exponentialsOfScaled(const float* values, float scale, std::size_t count, float* out);

/// Whether exponentialsOfScaled runs its own lanes on this machine.
bool exponentialLanesInUse();

}  // namespace quendel
