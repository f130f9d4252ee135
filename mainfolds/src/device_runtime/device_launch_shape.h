#pragma once

namespace quendel::device {

/// Edge of the thread block of the pointwise kernels and of the sweeps.
inline constexpr int kBlock2D = 32;
inline constexpr int kBlock1D = 128;

struct Extent {
    int x = 1;
    int y = 1;
};

/// Grid of blocks and threads per block of one kernel launch.
struct LaunchShape {
    Extent grid;
    Extent block;
};

/// One 32 x 32 block per 32 x 32 tile, plus one: the block count is the
/// truncation of n / 32 plus one, so a multiple of 32 gets an idle block.
inline LaunchShape shape2D(int width, int height) {
    return {{static_cast<int>(width * 0.03125f) + 1, static_cast<int>(height * 0.03125f) + 1},
            {kBlock2D, kBlock2D}};
}

/// One thread per row or column in blocks of 128, plus one block.
inline LaunchShape shape1D(int lines) {
    return {{static_cast<int>(lines * 0.0078125f) + 1, 1}, {kBlock1D, 1}};
}

/// A grid of single-thread blocks.
inline LaunchShape singleThreadBlocks(int x, int y = 1) {
    return {{x, y}, {1, 1}};
}

}  // namespace quendel::device
