#include "quendel/matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "quendel/texture.h"

using quendel::CpuMatrix;
using quendel::CpuTexture;

namespace {

CpuMatrix squareOf(int n, const std::vector<float>& values) {
    CpuMatrix m(n, n);
    std::copy(values.begin(), values.end(), m.getData());
    return m;
}

std::vector<float> elementsOf(const CpuMatrix& m) {
    const size_t count = static_cast<size_t>(m.getWidth()) * m.getHeight() * m.getChannelsCount();
    const float* data = m.getData();
    return data == nullptr ? std::vector<float>{} : std::vector<float>(data, data + count);
}

std::string messageOfMul(const CpuMatrix& a, const CpuMatrix& b, CpuMatrix& result) {
    try {
        CpuMatrix::matrixMul(a, b, result);
    } catch (const std::string& message) {
        return message;
    }
    return "no throw";
}

}  // namespace

TEST(MatrixFromTexture, InterleavesThePlanesAndConvertsBack) {
    const float planar[] = {1, 4, 2, 5, 3, 6};
    const CpuTexture texture(planar, 2, 1, 3, false);
    const CpuMatrix matrix(texture);
    EXPECT_EQ(matrix.getWidth(), 2);
    EXPECT_EQ(matrix.getHeight(), 1);
    EXPECT_EQ(matrix.getChannelsCount(), 3);
    EXPECT_EQ(elementsOf(matrix), (std::vector<float>{1, 2, 3, 4, 5, 6}));

    CpuTexture back(matrix);
    ASSERT_TRUE(back.hasSize(2, 1, 3));
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_EQ(back.getChannel(c)[0], texture.getChannel(c)[0]);
        EXPECT_EQ(back.getChannel(c)[1], texture.getChannel(c)[1]);
    }
    back.getChannel(0)[0] = 99.0f;  // the planes are the texture's own
    EXPECT_EQ(matrix.getData()[0], 1.0f);
    EXPECT_EQ(texture.getChannel(0)[0], 1.0f);
}

TEST(MatrixFromTexture, KeepsEveryBitOfTheValues) {
    const float odd[] = {-0.0f, 1e-45f, std::numeric_limits<float>::infinity(), 3.4e38f};
    const CpuMatrix matrix(CpuTexture(odd, 2, 2, 1, false));
    EXPECT_EQ(std::memcmp(matrix.getData(), odd, sizeof odd), 0);
}

TEST(MatrixFromTexture, EmptyTexturesGiveNoData) {
    EXPECT_EQ(CpuMatrix(CpuTexture()).getData(), nullptr);
    EXPECT_EQ(CpuMatrix(CpuTexture(nullptr, 4, 4, 0, true)).getData(), nullptr);
    EXPECT_EQ(CpuMatrix(CpuTexture(nullptr, 0, 3, 2, true)).getData(), nullptr);
}

TEST(MatrixCopy, IsDeep) {
    CpuMatrix original = squareOf(2, {1, 2, 3, 4});
    CpuMatrix copy(original);
    CpuMatrix assigned;
    assigned = original;
    copy.getData()[0] = 10;
    assigned.getData()[3] = 40;
    EXPECT_EQ(elementsOf(original), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(elementsOf(copy), (std::vector<float>{10, 2, 3, 4}));
    EXPECT_EQ(elementsOf(assigned), (std::vector<float>{1, 2, 3, 40}));
}

TEST(MatrixMinus, SubtractsOnlyMatchingShapes) {
    CpuMatrix a = squareOf(2, {5, 6, 7, 8});
    const CpuMatrix b = squareOf(2, {1, 2.5f, -3, 8});
    EXPECT_EQ(&a.minus(b), &a);
    EXPECT_EQ(elementsOf(a), (std::vector<float>{4, 3.5f, 10, 0}));

    const float planar[] = {1, 1, 1, 1, 1, 1, 1, 1};
    const CpuMatrix twoChannels(CpuTexture(planar, 2, 2, 2, false));
    const CpuMatrix wide(4, 1);
    for (const CpuMatrix* other : std::vector<const CpuMatrix*>{&twoChannels, &wide}) {
        CpuMatrix unchanged = squareOf(2, {5, 6, 7, 8});
        EXPECT_EQ(&unchanged.minus(*other), &unchanged);
        EXPECT_EQ(elementsOf(unchanged), (std::vector<float>{5, 6, 7, 8}));
    }
    CpuMatrix empty(0, 3);
    empty.minus(CpuMatrix(0, 3));
    EXPECT_EQ(empty.getData(), nullptr);
}

TEST(MatrixMul, MultipliesSquareMatrices) {
    const CpuMatrix a = squareOf(2, {1, 2, 3, 4});
    const CpuMatrix b = squareOf(2, {5, 6, 7, 8});
    CpuMatrix result(3, 3);
    CpuMatrix::matrixMul(a, b, result);
    EXPECT_EQ(result.getWidth(), 2);
    EXPECT_EQ(result.getHeight(), 2);
    EXPECT_EQ(result.getChannelsCount(), 1);
    EXPECT_EQ(elementsOf(result), (std::vector<float>{19, 22, 43, 50}));

    CpuMatrix reused = squareOf(2, {-1, -1, -1, -1});
    const float* storage = reused.getData();
    CpuMatrix::matrixMul(b, a, reused);
    EXPECT_EQ(elementsOf(reused), (std::vector<float>{23, 34, 31, 46}));
    EXPECT_EQ(reused.getData(), storage);
}

TEST(MatrixMul, SumsEachElementInIncreasingOrder) {
    // Only the left-to-right order of the five products gives 2: any other
    // grouping loses one of the small terms next to 1e8.
    CpuMatrix a(5, 5);
    CpuMatrix identityColumn(5, 5);
    const float row[] = {1e8f, 1, -1e8f, 1, 1};
    std::copy(row, row + 5, a.getData() + 5 * 3);
    for (int k = 0; k < 5; ++k) identityColumn.getData()[k * 5 + 2] = 1;
    CpuMatrix result;
    CpuMatrix::matrixMul(a, identityColumn, result);
    EXPECT_EQ(result.getData()[3 * 5 + 2], 2.0f);
    EXPECT_EQ(result.getData()[3 * 5 + 1], 0.0f);
}

TEST(MatrixMul, AnOperandMayAlsoBeTheResult) {
    CpuMatrix a = squareOf(2, {1, 2, 3, 4});
    const CpuMatrix b = squareOf(2, {5, 6, 7, 8});
    CpuMatrix::matrixMul(a, b, a);
    EXPECT_EQ(elementsOf(a), (std::vector<float>{19, 22, 43, 50}));

    CpuMatrix c = squareOf(2, {1, 2, 3, 4});
    CpuMatrix::matrixMul(c, c, c);
    EXPECT_EQ(elementsOf(c), (std::vector<float>{7, 10, 15, 22}));
}

TEST(MatrixMul, RejectsMisuseBeforeTouchingTheResult) {
    const CpuMatrix square = squareOf(2, {1, 2, 3, 4});
    const CpuMatrix tall(2, 3);
    const float planar[12] = {};
    const CpuMatrix threeChannelsNotSquare(CpuTexture(planar, 2, 2, 3, false));
    const CpuMatrix threeChannelsWide(CpuTexture(planar, 4, 1, 3, false));
    CpuMatrix result = squareOf(2, {9, 9, 9, 9});

    EXPECT_EQ(messageOfMul(square, tall, result), "Matrix Mul supports only square matrixes");
    EXPECT_EQ(messageOfMul(tall, square, result), "Matrix Mul supports only square matrixes");
    EXPECT_EQ(messageOfMul(square, CpuMatrix(3, 3), result),
              "Matrix Mul supports only square matrixes");
    EXPECT_EQ(messageOfMul(threeChannelsNotSquare, square, result),
              "Matrix Mul supports only 1D matrixes");
    EXPECT_EQ(messageOfMul(square, threeChannelsWide, result),
              "Matrix Mul supports only 1D matrixes");
    EXPECT_EQ(elementsOf(result), (std::vector<float>{9, 9, 9, 9}));
}

TEST(MatrixSwapColumns, ExchangesColumnsWithinAndAcrossMatrices) {
    CpuMatrix a = squareOf(2, {1, 2, 3, 4});
    CpuMatrix::swapColumns(a, a, 0, 1);
    EXPECT_EQ(elementsOf(a), (std::vector<float>{2, 1, 4, 3}));
    CpuMatrix::swapColumns(a, a, 1, 1);
    EXPECT_EQ(elementsOf(a), (std::vector<float>{2, 1, 4, 3}));

    CpuMatrix left = squareOf(3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    CpuMatrix right = squareOf(3, {-1, -2, -3, -4, -5, -6, -7, -8, -9});
    CpuMatrix::swapColumns(left, right, 0, 2);
    EXPECT_EQ(elementsOf(left), (std::vector<float>{-3, 2, 3, -6, 5, 6, -9, 8, 9}));
    EXPECT_EQ(elementsOf(right), (std::vector<float>{-1, -2, 1, -4, -5, 4, -7, -8, 7}));
}
