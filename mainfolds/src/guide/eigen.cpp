#include "guide/eigen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

namespace quendel {

namespace {

constexpr int kMaxIterations = 50;

using Vector = std::vector<float>;

float dot(const Vector& u, const Vector& v) {
    if (u.size() != v.size()) {
        return 0.0f;
    }
    float sum = 0.0f;
    for (size_t i = 0; i < u.size(); ++i) {
        sum = sum + u[i] * v[i];
    }
    return sum;
}

// Below this share of its column's length, a remainder is rounding noise
// of the subtraction (a few ulps per element summed over the column), not a
// direction: normalising it would give an arbitrary vector that is not
// orthogonal to the others, and the products of the iteration would grow
// without bound.
float noiseShare(size_t length) {
    return static_cast<float>(length) * std::numeric_limits<float>::epsilon();
}

// A remainder of zero length, one whose reciprocal length is not finite, or
// one lost in the noise of its column has no direction: it becomes the zero
// vector instead of NaNs or noise.
Vector normalised(const Vector& v, float columnSquaredLength) {
    const float squaredLength = dot(v, v);
    const float inverseLength = 1.0f / std::sqrt(squaredLength);
    Vector result(v.size(), 0.0f);
    const float share = noiseShare(v.size());
    if (!std::isfinite(inverseLength) || squaredLength <= share * share * columnSquaredLength) {
        return result;
    }
    for (size_t i = 0; i < v.size(); ++i) {
        result[i] = v[i] * inverseLength;
    }
    return result;
}

std::vector<Vector> columnsOf(const CpuMatrix& a) {
    const size_t width = static_cast<size_t>(a.getWidth());
    const size_t height = static_cast<size_t>(a.getHeight());
    const float* data = a.getData();
    std::vector<Vector> columns(width, Vector(height));
    for (size_t row = 0; row < height; ++row) {
        for (size_t column = 0; column < width; ++column) {
            columns[column][row] = data[row * width + column];
        }
    }
    return columns;
}

// Classical Gram-Schmidt: every projection is taken from the input column.
std::vector<Vector> orthonormalBasis(const std::vector<Vector>& columns) {
    std::vector<Vector> basis;
    basis.reserve(columns.size());
    for (const Vector& column : columns) {
        Vector sum(column.size(), 0.0f);
        for (const Vector& e : basis) {
            const float squaredLength = dot(e, e);
            if (squaredLength == 0.0f) {
                continue;  // a zero column spans nothing to remove
            }
            const float c = dot(e, column) / squaredLength;
            for (size_t i = 0; i < sum.size(); ++i) {
                sum[i] = sum[i] + c * e[i];
            }
        }
        Vector remainder(column.size());
        for (size_t i = 0; i < remainder.size(); ++i) {
            remainder[i] = column[i] - sum[i];
        }
        basis.push_back(normalised(remainder, dot(column, column)));
    }
    return basis;
}

bool isSquareScalarMatrix(const CpuMatrix& m) {
    return m.getWidth() == m.getHeight() && m.getChannelsCount() == 1;
}

bool converged(const CpuMatrix& next, const CpuMatrix& previous, float tolerance) {
    const size_t count = static_cast<size_t>(next.getWidth()) * next.getHeight();
    const float* a = next.getData();
    const float* b = previous.getData();
    for (size_t i = 0; i < count; ++i) {
        if (!(std::fabs(a[i] - b[i]) <= tolerance)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool qrDecompose(const CpuMatrix& a, CpuMatrix& q, CpuMatrix& r) {
    if (a.getChannelsCount() != 1) {
        return false;
    }
    const std::vector<Vector> columns = columnsOf(a);
    const std::vector<Vector> basis = orthonormalBasis(columns);
    const int width = a.getWidth();
    const int height = a.getHeight();

    CpuMatrix qOut(width, height);
    float* qData = qOut.getData();
    for (int column = 0; column < width; ++column) {
        for (int row = 0; row < height; ++row) {
            qData[static_cast<size_t>(row) * width + column] = basis[column][row];
        }
    }
    CpuMatrix rOut(width, width);
    float* rData = rOut.getData();
    for (int i = 0; i < width; ++i) {
        for (int j = i; j < width; ++j) {
            rData[static_cast<size_t>(i) * width + j] = dot(columns[j], basis[i]);
        }
    }
    q = std::move(qOut);
    r = std::move(rOut);
    return true;
}

bool sortEigenPairs(CpuMatrix& vectors, CpuMatrix& values, unsigned count) {
    if (!isSquareScalarMatrix(vectors) || !isSquareScalarMatrix(values) ||
        vectors.getWidth() != values.getWidth()) {
        return false;
    }
    const unsigned n = static_cast<unsigned>(values.getWidth());
    float* diagonal = values.getData();
    const auto at = [n](unsigned i) { return static_cast<size_t>(i) * n + i; };
    for (unsigned i = 0; i < std::min(count, n); ++i) {
        unsigned smallest = i;
        for (unsigned c = i + 1; c < n; ++c) {
            if (diagonal[at(c)] < diagonal[at(smallest)]) {
                smallest = c;
            }
        }
        std::swap(diagonal[at(i)], diagonal[at(smallest)]);
        CpuMatrix::swapColumns(vectors, vectors, i, smallest);
    }
    return true;
}

bool eigenDecompose(const CpuMatrix& a, float tolerance, CpuMatrix& vectors, CpuMatrix& values) {
    if (!isSquareScalarMatrix(a)) {
        return false;
    }
    CpuMatrix iterate = a;
    CpuMatrix accumulated;
    CpuMatrix q, r, next;
    for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
        qrDecompose(iterate, q, r);
        CpuMatrix::matrixMul(r, q, iterate);
        if (iteration == 0) {
            accumulated = q;
            continue;
        }
        CpuMatrix::matrixMul(accumulated, q, next);
        const bool settled = converged(next, accumulated, tolerance);
        std::swap(accumulated, next);
        if (settled) {
            break;
        }
    }
    const unsigned n = static_cast<unsigned>(a.getWidth());
    sortEigenPairs(accumulated, iterate, n);
    vectors = std::move(accumulated);
    values = std::move(iterate);
    return true;
}

}  // namespace quendel
