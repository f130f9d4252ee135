#pragma once

#include <cstddef>
#include <vector>

#include "quendel/plane_allocator.h"

namespace quendel {

class CpuTexture;

/// Dense host matrix of floats that owns its elements and copies them
/// deeply. Element (channel c, position j) lies at index c + j * channels,
/// with j = y * width + x; a one-channel matrix holds row i, column k at
/// i * width + k. It is both the interleaved form of a texture and the small
/// square matrix of the feature reduction.
class CpuMatrix {
  public:
    /// Empty: 0 x 0, one channel, no elements.
    CpuMatrix() = default;

    /// One channel, width x height zeros.
    CpuMatrix(int width_, int height_)
        : width(width_),
          height(height_),
          channels(1),
          data(static_cast<std::size_t>(width_ > 0 ? width_ : 0) * (height_ > 0 ? height_ : 0),
               0.0f) {}

    /// The texture interleaved: channel c of pixel j at c + j * channels,
    /// copied bit for bit. Works through the texture interface, so any
    /// texture kind is accepted.
    explicit CpuMatrix(const CpuTexture& texture);

    CpuMatrix(const CpuMatrix&) = default;
    CpuMatrix& operator=(const CpuMatrix&) = default;
    CpuMatrix(CpuMatrix&&) noexcept = default;
    CpuMatrix& operator=(CpuMatrix&&) noexcept = default;
    ~CpuMatrix() = default;

    /// First element, or null when the matrix holds none.
    float* getData() { return data.empty() ? nullptr : data.data(); }
    const float* getData() const { return data.empty() ? nullptr : data.data(); }

    int getWidth() const { return width; }
    int getHeight() const { return height; }
    int getChannelsCount() const { return channels; }

    /// Element-wise difference, in place. A matrix of another shape, or an
    /// empty one, leaves this matrix unchanged. Returns *this either way.
    CpuMatrix& minus(const CpuMatrix& other);

    /// result = a * b for square one-channel matrices; each element summed
    /// in increasing k. Throws std::string "Matrix Mul supports only 1D
    /// matrixes" when a channel count is not 1 (checked first), "Matrix Mul
    /// supports only square matrixes" when the shapes do not agree; nothing
    /// is modified then. `result` is reshaped when needed and may be `a` or
    /// `b`.
    static void matrixMul(const CpuMatrix& a, const CpuMatrix& b, CpuMatrix& result);

    /// Exchanges column i of `a` with column j of `b`. Rows and row stride
    /// of both come from the width of `a`; indices are not checked.
    static void swapColumns(CpuMatrix& a, CpuMatrix& b, unsigned i, unsigned j);

  protected:
    int width = 0;
    int height = 0;
    int channels = 1;
    std::vector<float, PlaneAllocator<float>> data;
};

}  // namespace quendel
