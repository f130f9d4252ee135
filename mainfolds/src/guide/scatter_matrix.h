#pragma once

#include <cstddef>
#include <vector>

#include "quendel/matrix.h"

namespace quendel {

class PatchFeatures;

/// The contiguous range of items that part `index` of `parts` receives
/// when `count` items are split statically: the first count % parts parts
/// get one item more.
struct ItemRange {
    size_t begin;
    size_t end;
};
ItemRange staticBlock(size_t count, int parts, int index);

/// Number of pixel blocks whose partial sums make up each scatter entry.
inline constexpr int kScatterBlocks = 4;

/// M[i][j] = sum over all pixels of (F_i - centre_i)(F_j - centre_j), a
/// D x D one-channel matrix, not divided by the pixel count. Every entry is
/// the sum, in block order, of kScatterBlocks partial sums over the static
/// split of the pixels, each taken in pixel order, so the result does not
/// depend on the team size. Only the lower triangle is summed.
CpuMatrix scatterMatrix(const PatchFeatures& features, const std::vector<float>& centre);

}  // namespace quendel
