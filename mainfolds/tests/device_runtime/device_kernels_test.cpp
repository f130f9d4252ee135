// The kernels' arithmetic on small planes, on every runtime: hand-worked
// values, references with the same rounding points, and the tile edges
// where a launch has an idle extra block.

#include "device_runtime/device_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "device_runtime/device_launch_shape.h"
#include "device_runtime/device_test_support.h"

using device_test::DeviceArray;
using device_test::randomValues;
using device_test::sameBits;
namespace launch = quendel::device::launch;
using quendel::device::kBlock1D;
using quendel::device::kBlock2D;
using quendel::device::shape1D;
using quendel::device::shape2D;

namespace {

struct Size {
    int width;
    int height;
    int pixels() const { return width * height; }
};

// Tile edges: exact multiples of 32 and 128 (an idle block is launched),
// one past them, and single rows and columns.
const std::vector<Size> kPlaneSizes = {{32, 32}, {64, 32}, {33, 1}, {1, 33}, {1, 1}, {31, 65}};
const std::vector<Size> kSweepSizes = {{128, 3}, {3, 128}, {129, 2}, {256, 1}, {1, 256}, {5, 7}};

/// One line of a recursive sweep, read and written with a stride.
struct Line {
    float* values;
    const float* coefficients;  // null: constant coefficient
    float constant;
    int length;
    int stride;

    float coefficient(int k) const {
        return coefficients != nullptr ? coefficients[k * stride] : constant;
    }
    float& at(int k) { return values[k * stride]; }
};

/// Forward then backward, each step fused; the backward step takes the
/// coefficient of the element beyond.
void referenceSweep(Line line) {
    for (int k = 1; k < line.length; ++k) {
        line.at(k) = std::fma(line.at(k - 1) - line.at(k), line.coefficient(k), line.at(k));
    }
    for (int k = line.length - 2; k >= 0; --k) {
        line.at(k) = std::fma(line.at(k + 1) - line.at(k), line.coefficient(k + 1), line.at(k));
    }
}

std::vector<float> referenceRows(std::vector<float> plane, Size size, const float* coefficients,
                                 float a) {
    for (int y = 0; y < size.height; ++y) {
        const int start = y * size.width;
        referenceSweep({plane.data() + start, coefficients ? coefficients + start : nullptr, a,
                        size.width, 1});
    }
    return plane;
}

std::vector<float> referenceColumns(std::vector<float> plane, Size size, const float* coefficients,
                                    float a) {
    for (int x = 0; x < size.width; ++x) {
        referenceSweep({plane.data() + x, coefficients ? coefficients + x : nullptr, a, size.height,
                        size.width});
    }
    return plane;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

class Kernels : public device_test::OnEachRuntime {
  protected:
    /// expf and powf may differ between a device and the host by 2 ulp.
    std::int64_t transcendentalUlps() const { return onCuda() ? 2 : 0; }
};
DEVICE_TEST_ON_EACH_RUNTIME(Kernels);

TEST_P(Kernels, ConstantSweepsSmoothForwardThenBackward) {
    // Row 0: forward 1 -> 1 + 0.5 (0 - 1) = 0.5, backward 0 -> 0 + 0.5 (0.5 - 0).
    DeviceArray rows({0.0f, 1.0f, 2.0f, 2.0f});
    launch::horizontalHKernel(shape1D(2), rows.get(), 2, 2, kBlock1D, 0.5f);
    EXPECT_EQ(rows.read(), (std::vector<float>{0.25f, 0.5f, 2.0f, 2.0f}));

    DeviceArray columns({0.0f, 2.0f, 1.0f, 2.0f});
    launch::verticalHKernel(shape1D(2), columns.get(), 2, 2, kBlock1D, 0.5f);
    EXPECT_EQ(columns.read(), (std::vector<float>{0.25f, 2.0f, 0.5f, 2.0f}));
}

TEST_P(Kernels, PerPixelSweepsTakeTheFarNeighboursCoefficientOnTheWayBack) {
    // The coefficient of element 0 couples it to nothing and must never be
    // read: a NaN there would spread.
    const std::vector<float> coefficients = {kNaN, 0.5f, 0.25f};
    const std::vector<float> expected = {0.203125f, 0.40625f, 0.125f};

    DeviceArray row({0.0f, 1.0f, 0.0f});
    DeviceArray rowCoefficients(coefficients);
    launch::horizontalRTKernel(shape1D(1), row.get(), 3, 1, rowCoefficients.get(), kBlock1D);
    EXPECT_EQ(row.read(), expected);

    DeviceArray column({0.0f, 1.0f, 0.0f});
    DeviceArray columnCoefficients(coefficients);
    launch::verticalRTKernel(shape1D(1), column.get(), 1, 3, columnCoefficients.get(), kBlock1D);
    EXPECT_EQ(column.read(), expected);
}

TEST_P(Kernels, SweepsCoverEveryLineOnceAtBlockEdges) {
    for (const Size size : kSweepSizes) {
        SCOPED_TRACE(testing::Message() << size.width << " x " << size.height);
        const auto plane = randomValues(size.pixels(), 7);
        const auto coefficients = randomValues(size.pixels(), 8, 0.0f, 1.0f);
        const float a = 0.3711f;

        DeviceArray data(plane);
        launch::horizontalHKernel(shape1D(size.height), data.get(), size.width, size.height,
                                  kBlock1D, a);
        EXPECT_TRUE(sameBits(data.read(), referenceRows(plane, size, nullptr, a)));

        data.write(plane);
        launch::verticalHKernel(shape1D(size.width), data.get(), size.width, size.height, kBlock1D,
                                a);
        EXPECT_TRUE(sameBits(data.read(), referenceColumns(plane, size, nullptr, a)));

        DeviceArray weights(coefficients);
        data.write(plane);
        launch::horizontalRTKernel(shape1D(size.height), data.get(), size.width, size.height,
                                   weights.get(), kBlock1D);
        EXPECT_TRUE(sameBits(data.read(), referenceRows(plane, size, coefficients.data(), 0)));

        data.write(plane);
        launch::verticalRTKernel(shape1D(size.width), data.get(), size.width, size.height,
                                 weights.get(), kBlock1D);
        EXPECT_TRUE(sameBits(data.read(), referenceColumns(plane, size, coefficients.data(), 0)));
    }
}

TEST_P(Kernels, SweepsLeaveSingleElementLinesAlone) {
    const auto plane = randomValues(9, 3);
    DeviceArray coefficients(randomValues(9, 4, 0.0f, 1.0f));

    DeviceArray column(plane);  // 1 x 9: rows of one element
    launch::horizontalHKernel(shape1D(9), column.get(), 1, 9, kBlock1D, 0.5f);
    launch::horizontalRTKernel(shape1D(9), column.get(), 1, 9, coefficients.get(), kBlock1D);
    EXPECT_EQ(column.read(), plane);

    DeviceArray row(plane);  // 9 x 1: columns of one element
    launch::verticalHKernel(shape1D(9), row.get(), 9, 1, kBlock1D, 0.5f);
    launch::verticalRTKernel(shape1D(9), row.get(), 9, 1, coefficients.get(), kBlock1D);
    EXPECT_EQ(row.read(), plane);
}

TEST_P(Kernels, SquaredDifferencesAccumulateWithoutTheFirstColumnOrRow) {
    // 3 x 2 image; both sums start at 1 and take two launches.
    DeviceArray image({1.0f, 3.0f, 6.0f, 2.0f, 2.0f, 10.0f});
    DeviceArray horizontal(std::vector<float>(6, 1.0f));
    DeviceArray vertical(std::vector<float>(6, 1.0f));
    for (int pass = 0; pass < 2; ++pass) {
        launch::diffsAccumulateSum(shape2D(3, 2), image.get(), 3, 2, kBlock2D, horizontal.get(),
                                   vertical.get());
    }
    EXPECT_EQ(horizontal.read(), (std::vector<float>{1, 9, 19, 1, 1, 129}));
    EXPECT_EQ(vertical.read(), (std::vector<float>{1, 1, 1, 3, 3, 33}));
}

TEST_P(Kernels, SquaredDifferencesAreFusedIntoTheSums) {
    const Size size{33, 32};
    const auto image = randomValues(size.pixels(), 11);
    const auto start = randomValues(size.pixels(), 12, 0.0f, 4.0f);
    std::vector<float> horizontal = start, vertical = start;
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const int i = y * size.width + x;
            if (x > 0) {
                const float d = image[i] - image[i - 1];
                horizontal[i] = std::fma(d, d, horizontal[i]);
            }
            if (y > 0) {
                const float d = image[i] - image[i - size.width];
                vertical[i] = std::fma(d, d, vertical[i]);
            }
        }
    }
    DeviceArray deviceImage(image), deviceHorizontal(start), deviceVertical(start);
    launch::diffsAccumulateSum(shape2D(size.width, size.height), deviceImage.get(), size.width,
                               size.height, kBlock2D, deviceHorizontal.get(), deviceVertical.get());
    EXPECT_TRUE(sameBits(deviceHorizontal.read(), horizontal));
    EXPECT_TRUE(sameBits(deviceVertical.read(), vertical));
}

TEST_P(Kernels, DiffComputeTakesTheRootOfAFusedAffineMap) {
    DeviceArray sums({3.0f, 0.0f});
    launch::diffCompute(shape2D(2, 1), sums.get(), 2, 1, kBlock2D, 7.0f, 3.0f);
    EXPECT_EQ(sums.read(), (std::vector<float>{4.0f, std::sqrt(7.0f)}));

    const auto values = randomValues(64 * 32, 5, 0.0f, 10.0f);
    const float k0 = 1.0f, k1 = 0.123456f;
    std::vector<float> expected(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        expected[i] = std::sqrt(std::fma(values[i], k1, k0));
    }
    DeviceArray plane(values);
    launch::diffCompute(shape2D(64, 32), plane.get(), 64, 32, kBlock2D, k0, k1);
    EXPECT_TRUE(sameBits(plane.read(), expected));
}

TEST_P(Kernels, PowerFollowsTheCRulesForZeroExponentsAndZeroBase) {
    DeviceArray zeros = DeviceArray::zeros(40);
    DeviceArray result = DeviceArray::zeros(40);
    for (const float base : {0.0f, 2.5f, kNaN, kInfinity}) {
        launch::power(shape2D(8, 5), zeros.get(), 8, 5, base, kBlock2D, result.get());
        EXPECT_EQ(result.read(), std::vector<float>(40, 1.0f)) << "base " << base;
    }
    DeviceArray positive(randomValues(40, 9, 0.1f, 5.0f));
    launch::power(shape2D(8, 5), positive.get(), 8, 5, 0.0f, kBlock2D, result.get());
    EXPECT_EQ(result.read(), std::vector<float>(40, 0.0f));

    DeviceArray exact({3.0f, -1.0f, 10.0f});
    DeviceArray small = DeviceArray::zeros(3);
    launch::power(shape2D(3, 1), exact.get(), 3, 1, 2.0f, kBlock2D, small.get());
    EXPECT_EQ(small.read(), (std::vector<float>{8.0f, 0.5f, 1024.0f}));
}

TEST_P(Kernels, PowerAndWeightsFollowTheSinglePrecisionFunctions) {
    const Size size{64, 33};
    const auto exponents = randomValues(size.pixels(), 21, -8.0f, 8.0f);
    const float base = 0.8125f;
    std::vector<float> powers(exponents.size());
    for (std::size_t i = 0; i < exponents.size(); ++i) {
        powers[i] = std::pow(base, exponents[i]);
    }
    DeviceArray deviceExponents(exponents), result = DeviceArray::zeros(exponents.size());
    launch::power(shape2D(size.width, size.height), deviceExponents.get(), size.width, size.height,
                  base, kBlock2D, result.get());
    EXPECT_TRUE(sameBits(result.read(), powers, transcendentalUlps()));

    const float scale = 1.7f;
    const float factor = (scale * -2.0f) * scale;
    std::vector<float> distances(exponents.size()), weights(exponents.size());
    for (std::size_t i = 0; i < exponents.size(); ++i) {
        distances[i] = exponents[i] * 0.125f;
        weights[i] = std::exp(factor * distances[i]);
    }
    DeviceArray plane(distances);
    launch::computeWeights(shape2D(size.width, size.height), plane.get(), size.width, size.height,
                           kBlock2D, scale);
    EXPECT_TRUE(sameBits(plane.read(), weights, transcendentalUlps()));
}

TEST_P(Kernels, WeightsOfZeroDistancesAreOne) {
    DeviceArray plane = DeviceArray::zeros(33 * 2);
    launch::computeWeights(shape2D(33, 2), plane.get(), 33, 2, kBlock2D, 3.0f);
    EXPECT_EQ(plane.read(), std::vector<float>(66, 1.0f));
}

TEST_P(Kernels, AccumulatingKernelsTouchEveryPixelExactlyOnce) {
    // Accumulations show a pixel visited twice (or never) in their result.
    for (const Size size : kPlaneSizes) {
        SCOPED_TRACE(testing::Message() << size.width << " x " << size.height);
        const auto a = randomValues(size.pixels(), 31), b = randomValues(size.pixels(), 32);
        const auto sums = randomValues(size.pixels(), 33, 0.0f, 2.0f);
        std::vector<float> squares(sums), weighted(sums), difference(a);
        for (int i = 0; i < size.pixels(); ++i) {
            const float d = a[i] - b[i];
            squares[i] = std::fma(d, d, sums[i]);
            weighted[i] = std::fma(a[i], b[i], sums[i]);
            difference[i] = a[i] - b[i];
        }
        const auto shape = shape2D(size.width, size.height);
        DeviceArray deviceA(a), deviceB(b), deviceSums(sums);
        launch::accumulateWeights(shape, deviceA.get(), deviceB.get(), size.width, size.height,
                                  kBlock2D, deviceSums.get());
        EXPECT_TRUE(sameBits(deviceSums.read(), squares));

        deviceSums.write(sums);
        launch::accumulateWeightedSum(shape, deviceA.get(), deviceB.get(), size.width, size.height,
                                      kBlock2D, deviceSums.get());
        EXPECT_TRUE(sameBits(deviceSums.read(), weighted));

        launch::minusKernel(shape, deviceA.get(), deviceB.get(), size.width, size.height, kBlock2D);
        EXPECT_TRUE(sameBits(deviceA.read(), difference));
    }
}

TEST_P(Kernels, DivisionIsCorrectlyRoundedAndKeepsDenormals) {
    const float denormal = std::numeric_limits<float>::denorm_min() * 1000.0f;
    const std::vector<float> numerators = {1.0f, -1.0f, 0.0f, denormal, 2.0f, 1.0f};
    const std::vector<float> denominators = {0.0f, 0.0f, 0.0f, 4.0f, 3.0f, 1e38f};
    DeviceArray numerator(numerators), denominator(denominators);
    DeviceArray quotient = DeviceArray::zeros(6);
    launch::divide(shape2D(6, 1), numerator.get(), denominator.get(), 6, 1, kBlock2D,
                   quotient.get());
    const auto result = quotient.read();
    EXPECT_EQ(result[0], kInfinity);
    EXPECT_EQ(result[1], -kInfinity);
    EXPECT_TRUE(std::isnan(result[2]));
    EXPECT_EQ(result[3], denormal / 4.0f);
    EXPECT_GT(result[3], 0.0f);
    EXPECT_EQ(result[4], 2.0f / 3.0f);
    EXPECT_EQ(result[5], 1.0f / 1e38f);  // a denormal quotient
    EXPECT_EQ(std::fpclassify(result[5]), FP_SUBNORMAL);
}

TEST_P(Kernels, ScatterProductIsTheTransposeTimesTheMatrix) {
    DeviceArray m({1, 2, 3, 4, 5, 6});  // 3 rows x 2 columns
    DeviceArray result(std::vector<float>(4, kNaN));
    launch::Mt_M_mul(quendel::device::singleThreadBlocks(2, 2), m.get(), 3, 2, result.get());
    EXPECT_EQ(result.read(), (std::vector<float>{35, 44, 44, 56}));
}

TEST_P(Kernels, ProjectionsOntoTheLastVectorsStoreTheLastFirst) {
    // Two rows of three columns onto the last two rows of the identity:
    // each result row holds columns 2 and 1 of m.
    DeviceArray m({1, 2, 3, 4, 5, 6});
    DeviceArray identity({1, 0, 0, 0, 1, 0, 0, 0, 1});
    DeviceArray result(std::vector<float>(4, kNaN));
    launch::mat_evec_mul(quendel::device::singleThreadBlocks(32), m.get(), 2, 3, identity.get(), 2,
                         result.get());
    EXPECT_EQ(result.read(), (std::vector<float>{3, 2, 6, 5}));

    // The eigenvector product reads only the first `count` columns of m
    // and of each vector.
    DeviceArray vectors({1, 10, 100, 2, 20, 200, 3, 30, 300});
    launch::mat_eigVecs_mul(quendel::device::singleThreadBlocks(32), m.get(), vectors.get(), 2, 3,
                            result.get(), 2);
    EXPECT_EQ(result.read(), (std::vector<float>{21, 42, 54, 108}));
}

TEST_P(Kernels, ProductsSplitManyRowsOverThirtyTwoBlocks) {
    // 70 rows: chunks of 3, the last block starts beyond the rows.
    const int rows = 70, columns = 6, count = 4;
    const auto m = randomValues(rows * columns, 41);
    const auto vectors = randomValues(columns * columns, 42);
    std::vector<float> projections(rows * count), products(rows * count);
    for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < count; ++j) {
            float projection = 0.0f, product = 0.0f;
            for (int k = 0; k < columns; ++k) {
                projection = std::fma(m[r * columns + k],
                                      vectors[(columns - count + j) * columns + k], projection);
            }
            for (int k = 0; k < count; ++k) {
                product = std::fma(m[r * columns + k], vectors[j * columns + k], product);
            }
            projections[r * count + (count - 1 - j)] = projection;
            products[r * count + j] = product;
        }
    }
    DeviceArray deviceM(m), deviceVectors(vectors);
    DeviceArray result(std::vector<float>(rows * count, kNaN));
    const auto blocks = quendel::device::singleThreadBlocks(32);
    launch::mat_evec_mul(blocks, deviceM.get(), rows, columns, deviceVectors.get(), count,
                         result.get());
    EXPECT_TRUE(sameBits(result.read(), projections));
    launch::mat_eigVecs_mul(blocks, deviceM.get(), deviceVectors.get(), rows, columns, result.get(),
                            count);
    EXPECT_TRUE(sameBits(result.read(), products));

    std::vector<float> scatter(columns * columns);
    for (int y = 0; y < columns; ++y) {
        for (int x = 0; x < columns; ++x) {
            float sum = 0.0f;
            for (int k = 0; k < rows; ++k) {
                sum = std::fma(m[k * columns + y], m[k * columns + x], sum);
            }
            scatter[y * columns + x] = sum;
        }
    }
    DeviceArray deviceScatter(std::vector<float>(columns * columns, kNaN));
    launch::Mt_M_mul(quendel::device::singleThreadBlocks(columns, columns), deviceM.get(), rows,
                     columns, deviceScatter.get());
    EXPECT_TRUE(sameBits(deviceScatter.read(), scatter));
}

}  // namespace
