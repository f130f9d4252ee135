#include "quendel/matrix.h"

#include <string>
#include <utility>

#include "quendel/texture.h"

namespace quendel {

CpuMatrix::CpuMatrix(const CpuTexture& texture)
    : width(static_cast<int>(texture.getWidth())),
      height(static_cast<int>(texture.getHeight())),
      channels(static_cast<int>(texture.getChannelsCount())),
      // Every element is written below.
      data(UnsetValues(), UnsetValues(static_cast<size_t>(texture.getWidth()) *
                                      texture.getHeight() * texture.getChannelsCount())) {
    const size_t pixels = static_cast<size_t>(texture.getWidth()) * texture.getHeight();
    const size_t stride = texture.getChannelsCount();
    for (size_t c = 0; c < stride; ++c) {
        const float* plane = texture.getChannel(static_cast<unsigned>(c));
        float* out = data.data() + c;
        for (size_t j = 0; j < pixels; ++j) {
            out[j * stride] = plane[j];
        }
    }
}

CpuTexture::CpuTexture(const CpuMatrix& matrix)
    : CpuTexture(matrix.getData(), static_cast<unsigned>(matrix.getWidth()),
                 static_cast<unsigned>(matrix.getHeight()),
                 static_cast<unsigned>(matrix.getChannelsCount()), true) {}

CpuMatrix& CpuMatrix::minus(const CpuMatrix& other) {
    const bool sameShape =
        width == other.width && height == other.height && channels == other.channels;
    if (!sameShape || width * height * channels <= 0) {
        return *this;
    }
    const size_t count = data.size();
    for (size_t i = 0; i < count; ++i) {
        data[i] = data[i] - other.data[i];
    }
    return *this;
}

namespace {

// One element of a square product; the order of the additions is the
// result's contract, so the unrolled steps keep increasing k.
float productElement(const float* rowOfA, const float* b, int column, int n) {
    float sum = 0.0f;
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        sum = rowOfA[k] * b[k * n + column] + sum;
        sum = rowOfA[k + 1] * b[(k + 1) * n + column] + sum;
        sum = rowOfA[k + 2] * b[(k + 2) * n + column] + sum;
        sum = rowOfA[k + 3] * b[(k + 3) * n + column] + sum;
    }
    for (; k < n; ++k) {
        sum = rowOfA[k] * b[k * n + column] + sum;
    }
    return sum;
}

}  // namespace

void CpuMatrix::matrixMul(const CpuMatrix& a, const CpuMatrix& b, CpuMatrix& result) {
    if (a.channels != 1 || b.channels != 1) {
        throw std::string("Matrix Mul supports only 1D matrixes");
    }
    const int n = a.width;
    if (a.height != n || b.width != n || b.height != n) {
        throw std::string("Matrix Mul supports only square matrixes");
    }
    // Writing into an operand would overwrite elements still needed.
    const bool aliased = &result == &a || &result == &b;
    CpuMatrix scratch;
    CpuMatrix& target = aliased ? scratch : result;
    if (target.width != n || target.height != n || target.channels != 1) {
        target = CpuMatrix(n, n);
    }
    for (int r = 0; r < n; ++r) {
        const float* rowOfA = a.data.data() + static_cast<size_t>(r) * n;
        for (int c = 0; c < n; ++c) {
            target.data[static_cast<size_t>(r) * n + c] =
                productElement(rowOfA, b.data.data(), c, n);
        }
    }
    if (aliased) {
        result = std::move(scratch);
    }
}

void CpuMatrix::swapColumns(CpuMatrix& a, CpuMatrix& b, unsigned i, unsigned j) {
    const size_t n = static_cast<size_t>(a.width > 0 ? a.width : 0);
    for (size_t r = 0; r < n; ++r) {
        std::swap(a.data[r * n + i], b.data[r * n + j]);
    }
}

}  // namespace quendel
