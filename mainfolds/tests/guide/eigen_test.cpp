#include "guide/eigen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "quendel/texture.h"

using quendel::CpuMatrix;

namespace {

CpuMatrix squareOf(int n, const std::vector<float>& values) {
    CpuMatrix m(n, n);
    std::copy(values.begin(), values.end(), m.getData());
    return m;
}

float at(const CpuMatrix& m, int row, int column) {
    return m.getData()[static_cast<size_t>(row) * m.getWidth() + column];
}

std::vector<float> elementsOf(const CpuMatrix& m) {
    const float* data = m.getData();
    return {data, data + static_cast<size_t>(m.getWidth()) * m.getHeight()};
}

// A symmetric matrix R diag(eigenvalues) R^T with a random rotation R.
CpuMatrix symmetricWithEigenvalues(const std::vector<double>& eigenvalues, unsigned seed) {
    const int n = static_cast<int>(eigenvalues.size());
    std::mt19937 generator(seed);
    std::normal_distribution<double> gaussian;
    std::vector<std::vector<double>> basis;
    while (static_cast<int>(basis.size()) < n) {
        std::vector<double> v(n);
        for (double& x : v) x = gaussian(generator);
        for (const auto& e : basis) {
            const double p = std::inner_product(v.begin(), v.end(), e.begin(), 0.0);
            for (int i = 0; i < n; ++i) v[i] -= p * e[i];
        }
        const double length = std::sqrt(std::inner_product(v.begin(), v.end(), v.begin(), 0.0));
        for (double& x : v) x /= length;
        basis.push_back(v);
    }
    CpuMatrix m(n, n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            double sum = 0;
            for (int k = 0; k < n; ++k) sum += basis[k][i] * eigenvalues[k] * basis[k][j];
            m.getData()[i * n + j] = static_cast<float>(sum);
        }
    }
    return m;
}

// Every column v_k of `vectors` satisfies A v_k = lambda_k v_k, and the
// columns are orthonormal.
void expectEigenpairs(const CpuMatrix& a, const CpuMatrix& vectors, const CpuMatrix& values,
                      float tolerance) {
    const int n = a.getWidth();
    for (int k = 0; k < n; ++k) {
        const float lambda = at(values, k, k);
        for (int i = 0; i < n; ++i) {
            float av = 0;
            for (int j = 0; j < n; ++j) av += at(a, i, j) * at(vectors, j, k);
            EXPECT_NEAR(av, lambda * at(vectors, i, k), tolerance) << "pair " << k << " row " << i;
        }
        for (int other = 0; other < n; ++other) {
            float product = 0;
            for (int i = 0; i < n; ++i) product += at(vectors, i, k) * at(vectors, i, other);
            EXPECT_NEAR(product, k == other ? 1.0f : 0.0f, tolerance);
        }
    }
}

}  // namespace

TEST(EigenDecompose, DiagonalMatrixGivesPermutedIdentityInAscendingOrder) {
    const CpuMatrix a = squareOf(3, {4, 0, 0, 0, 1, 0, 0, 0, 2});
    CpuMatrix vectors, values;
    ASSERT_TRUE(quendel::eigenDecompose(a, 0.001f, vectors, values));
    EXPECT_EQ(elementsOf(values), (std::vector<float>{1, 0, 0, 0, 2, 0, 0, 0, 4}));
    EXPECT_EQ(elementsOf(vectors), (std::vector<float>{0, 0, 1, 1, 0, 0, 0, 1, 0}));
}

TEST(EigenDecompose, TwoByTwoPutsTheSmallerEigenvalueFirst) {
    const CpuMatrix a = squareOf(2, {2, 1, 1, 2});
    CpuMatrix vectors, values;
    ASSERT_TRUE(quendel::eigenDecompose(a, 0.001f, vectors, values));
    EXPECT_NEAR(at(values, 0, 0), 1.0f, 1e-3f);
    EXPECT_NEAR(at(values, 1, 1), 3.0f, 1e-3f);
    // Column 0 lies along (1, -1), column 1 along (1, 1).
    EXPECT_NEAR(std::fabs(at(vectors, 0, 0) + at(vectors, 1, 0)), 0.0f, 1e-3f);
    EXPECT_NEAR(std::fabs(at(vectors, 0, 1) - at(vectors, 1, 1)), 0.0f, 1e-3f);
    expectEigenpairs(a, vectors, values, 2e-3f);
}

TEST(EigenDecompose, SymmetricMatricesGiveOrthonormalEigenpairs) {
    const std::vector<std::vector<double>> spectra = {
        {5, 1, 3}, {0.5, 8, 2, 4, 16}, {1, 2, 4, 8, 16, 32, 64}};
    unsigned seed = 1;
    for (const auto& spectrum : spectra) {
        const CpuMatrix a = symmetricWithEigenvalues(spectrum, seed++);
        CpuMatrix vectors, values;
        ASSERT_TRUE(quendel::eigenDecompose(a, 1e-5f, vectors, values));
        const int n = a.getWidth();
        for (int k = 1; k < n; ++k) EXPECT_LE(at(values, k - 1, k - 1), at(values, k, k));
        EXPECT_NEAR(at(values, 0, 0), *std::min_element(spectrum.begin(), spectrum.end()), 1e-2);
        EXPECT_NEAR(at(values, n - 1, n - 1), *std::max_element(spectrum.begin(), spectrum.end()),
                    1e-2);
        expectEigenpairs(a, vectors, values, 5e-3f * static_cast<float>(spectrum.back()));
    }
}

TEST(EigenDecompose, StopsAfterExactlyFiftyStepsWhenNothingSettles) {
    // A cyclic shift never settles: each step multiplies the eigenvectors by
    // the shift once more, so the result is the shift to the power of the
    // number of steps, distinct for every count up to 64.
    const int n = 64;
    CpuMatrix shift(n, n);
    for (int column = 0; column < n; ++column) shift.getData()[((column + 1) % n) * n + column] = 1;
    CpuMatrix vectors, values;
    ASSERT_TRUE(quendel::eigenDecompose(shift, 0.001f, vectors, values));
    for (int column = 0; column < n; ++column) {
        for (int row = 0; row < n; ++row) {
            ASSERT_EQ(at(vectors, row, column), row == (column + 50) % n ? 1.0f : 0.0f)
                << "row " << row << " column " << column;
        }
    }
    EXPECT_EQ(elementsOf(values), elementsOf(shift));
}

TEST(EigenDecompose, RejectsNonSquareInputAndLeavesTheOutputs) {
    CpuMatrix vectors = squareOf(2, {1, 2, 3, 4});
    CpuMatrix values = squareOf(1, {7});
    EXPECT_FALSE(quendel::eigenDecompose(CpuMatrix(3, 2), 0.001f, vectors, values));
    EXPECT_EQ(elementsOf(vectors), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(elementsOf(values), (std::vector<float>{7}));
}

TEST(EigenDecompose, RankDeficientMatricesStayFinite) {
    // Linearly dependent columns, as a scatter matrix of a constant channel
    // has them, must not produce NaNs.
    const std::vector<CpuMatrix> singular = {
        CpuMatrix(3, 3), squareOf(3, {2, 0, 1, 0, 0, 0, 1, 0, 3}), squareOf(2, {1, 1, 1, 1}),
        squareOf(3, {1, 2, 3, 2, 4, 6, 3, 6, 9})};
    for (const CpuMatrix& a : singular) {
        CpuMatrix vectors, values;
        ASSERT_TRUE(quendel::eigenDecompose(a, 0.001f, vectors, values));
        for (float v : elementsOf(vectors)) EXPECT_TRUE(std::isfinite(v));
        for (float v : elementsOf(values)) EXPECT_TRUE(std::isfinite(v));
    }
    // The non-zero block of [[2, 0, 1], [0, 0, 0], [1, 0, 3]] is still
    // decomposed: its largest eigenvalue comes last.
    CpuMatrix vectors, values;
    quendel::eigenDecompose(singular[1], 0.001f, vectors, values);
    EXPECT_NEAR(at(values, 2, 2), 2.5f + std::sqrt(1.25f), 1e-3f);
}

TEST(QrDecompose, FactorsIntoOrthonormalAndUpperTriangular) {
    const CpuMatrix a = squareOf(3, {4, 1, 2, 1, 3, 0, 2, 0, 5});
    CpuMatrix q, r;
    ASSERT_TRUE(quendel::qrDecompose(a, q, r));
    CpuMatrix product;
    CpuMatrix::matrixMul(q, r, product);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(product.getData()[i], a.getData()[i], 1e-5f);
    for (int i = 1; i < 3; ++i) {
        for (int j = 0; j < i; ++j) EXPECT_EQ(at(r, i, j), 0.0f);
    }
    CpuMatrix values = squareOf(3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    expectEigenpairs(values, q, values, 1e-5f);  // orthonormal columns
}

TEST(QrDecompose, DependentColumnBecomesZeroAndOthersStayExact) {
    // Column 1 is zero: its remainder has no length. Columns 0 and 2 are
    // orthogonal unit vectors and must come through unchanged.
    const CpuMatrix a = squareOf(3, {1, 0, 0, 0, 0, 1, 0, 0, 0});
    CpuMatrix q, r;
    ASSERT_TRUE(quendel::qrDecompose(a, q, r));
    EXPECT_EQ(elementsOf(q), (std::vector<float>{1, 0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(elementsOf(r), (std::vector<float>{1, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(QrDecompose, RejectsSeveralChannels) {
    const float planar[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const CpuMatrix twoChannels(quendel::CpuTexture(planar, 2, 2, 2, false));
    CpuMatrix q = squareOf(1, {3}), r = squareOf(1, {4});
    EXPECT_FALSE(quendel::qrDecompose(twoChannels, q, r));
    EXPECT_EQ(elementsOf(q), (std::vector<float>{3}));
    EXPECT_EQ(elementsOf(r), (std::vector<float>{4}));
}

TEST(SortEigenPairs, SelectsTheEarliestSmallestAndMovesOnlyTheDiagonal) {
    // Columns are labelled by their first row.
    CpuMatrix vectors = squareOf(4, {10, 11, 12, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    CpuMatrix values = squareOf(4, {3, 5, 5, 5, 6, 1, 6, 6, 7, 7, 3, 7, 8, 8, 8, 1});
    ASSERT_TRUE(quendel::sortEigenPairs(vectors, values, 4));
    EXPECT_EQ(elementsOf(values),
              (std::vector<float>{1, 5, 5, 5, 6, 1, 6, 6, 7, 7, 3, 7, 8, 8, 8, 3}));
    // Step 0 takes column 1, step 1 column 3 (the earliest 1 after the
    // swap), step 2 keeps the earlier 3: the swaps give 11, 13, 12, 10.
    EXPECT_EQ(at(vectors, 0, 0), 11);
    EXPECT_EQ(at(vectors, 0, 1), 13);
    EXPECT_EQ(at(vectors, 0, 2), 12);
    EXPECT_EQ(at(vectors, 0, 3), 10);
}

TEST(SortEigenPairs, EqualValuesKeepTheirOrderAndCountLimitsTheSort) {
    CpuMatrix vectors = squareOf(3, {10, 11, 12, 0, 0, 0, 0, 0, 0});
    CpuMatrix values = squareOf(3, {2, 0, 0, 0, 2, 0, 0, 0, 2});
    ASSERT_TRUE(quendel::sortEigenPairs(vectors, values, 3));
    EXPECT_EQ(elementsOf(vectors), (std::vector<float>{10, 11, 12, 0, 0, 0, 0, 0, 0}));

    CpuMatrix partly = squareOf(3, {3, 0, 0, 0, 2, 0, 0, 0, 1});
    CpuMatrix labels = squareOf(3, {10, 11, 12, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(quendel::sortEigenPairs(labels, partly, 1));
    EXPECT_EQ(elementsOf(partly), (std::vector<float>{1, 0, 0, 0, 2, 0, 0, 0, 3}));
    EXPECT_EQ(at(labels, 0, 0), 12);
    EXPECT_EQ(at(labels, 0, 1), 11);
}

TEST(SortEigenPairs, RefusesMismatchedMatrices) {
    CpuMatrix vectors = squareOf(2, {1, 2, 3, 4});
    CpuMatrix values = squareOf(3, {3, 0, 0, 0, 2, 0, 0, 0, 1});
    CpuMatrix notSquare(3, 2);
    EXPECT_FALSE(quendel::sortEigenPairs(vectors, values, 3));
    EXPECT_FALSE(quendel::sortEigenPairs(notSquare, notSquare, 2));
    EXPECT_EQ(elementsOf(vectors), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(elementsOf(values), (std::vector<float>{3, 0, 0, 0, 2, 0, 0, 0, 1}));
}
