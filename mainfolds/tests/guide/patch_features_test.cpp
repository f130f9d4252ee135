#include "guide/patch_features.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "guide/guide_reference.h"
#include "guide/scatter_matrix.h"
#include "quendel/threads.h"

using quendel::CpuTexture;
using quendel::PatchFeatures;

namespace {

// Values over six decades, so that the order of additions shows in sums.
CpuTexture wideRangeTexture(unsigned width, unsigned height, unsigned channels, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> decade(-3, 3);
    std::vector<float> data(static_cast<size_t>(width) * height * channels);
    for (float& v : data) v = mantissa(generator) * std::pow(10.0f, float(decade(generator)));
    return CpuTexture(data.data(), width, height, channels, false);
}

bool sameBits(const float* a, const float* b, size_t count) {
    return std::memcmp(a, b, count * sizeof(float)) == 0;
}

class TeamSize {
  public:
    explicit TeamSize(int size) : previous(quendel::threadCount()) {
        quendel::setThreadCount(size);
    }
    ~TeamSize() { quendel::setThreadCount(previous); }

  private:
    int previous;
};

}  // namespace

TEST(PatchFeatures, WeightsFallOffWithSquaredDistance) {
    const CpuTexture image(nullptr, 3, 3, 1, true);
    const PatchFeatures radiusOne(image, 1);
    EXPECT_EQ(radiusOne.count(), 9);
    EXPECT_EQ(radiusOne.weight(4), 1.0f);                                // (0, 0)
    EXPECT_EQ(radiusOne.weight(1), static_cast<float>(std::exp(-1.0)));  // (-1, 0)
    EXPECT_EQ(radiusOne.weight(5), static_cast<float>(std::exp(-1.0)));  // (0, 1)
    EXPECT_EQ(radiusOne.weight(8), static_cast<float>(std::exp(-2.0)));  // (1, 1)

    const PatchFeatures radiusTwo(image, 2);
    EXPECT_EQ(radiusTwo.count(), 25);
    EXPECT_EQ(radiusTwo.weight(0), static_cast<float>(std::exp(-4.0)));  // (-2, -2)
    EXPECT_EQ(radiusTwo.weight(12), 1.0f);
    EXPECT_EQ(radiusTwo.weight(13), static_cast<float>(std::exp(-0.5)));  // (0, 1)
    EXPECT_EQ(radiusTwo.weight(14), static_cast<float>(std::exp(-2.0)));  // (0, 2)
}

TEST(PatchFeatures, SamplesOutsideTheImageComeFromColumnAndRowZero) {
    // Column 0 holds 100 + y, every other pixel 0, so the nearest edge and
    // column 0 give different features.
    const unsigned w = 4, h = 3;
    std::vector<float> data(w * h, 0.0f);
    for (unsigned y = 0; y < h; ++y) data[y * w] = 100.0f + static_cast<float>(y);
    data[1 * w + 2] = 7.0f;
    const CpuTexture image(data.data(), w, h, 1, false);
    const PatchFeatures features(image, 1);
    const float mean = (100.0f + 101.0f + 102.0f + 7.0f) / 12.0f;
    const float side = static_cast<float>(std::exp(-1.0));
    const float corner = static_cast<float>(std::exp(-2.0));

    float value = 0;
    // (dx, dy) = (1, 0) is feature 7: at x = W - 1 it reads column 0.
    features.gather(1, w - 1, w, 7, 8, nullptr, &value, 1, 1);
    EXPECT_EQ(value, (101.0f - mean) * side);
    // (-1, 0) at x = 0 also reads column 0, here the pixel itself.
    features.gather(2, 0, 1, 1, 2, nullptr, &value, 1, 1);
    EXPECT_EQ(value, (102.0f - mean) * side);
    // (1, 1) at the bottom right corner reads (0, 0).
    features.gather(h - 1, w - 1, w, 8, 9, nullptr, &value, 1, 1);
    EXPECT_EQ(value, (100.0f - mean) * corner);
    // (1, -1) from row 0 of column 1 reads row 0 of column 2.
    features.gather(0, 1, 2, 6, 7, nullptr, &value, 1, 1);
    EXPECT_EQ(value, (0.0f - mean) * corner);
    // Inside the image (1, 0) is the right neighbour.
    features.gather(1, 1, 2, 7, 8, nullptr, &value, 1, 1);
    EXPECT_EQ(value, (7.0f - mean) * side);
}

TEST(PatchFeatures, CentredRowsMatchStoredPlanesAtAnyTeamSize) {
    struct Case {
        unsigned w, h, channels;
        int radius;
    };
    for (const Case& c :
         {Case{13, 7, 3, 1}, Case{150, 4, 2, 1}, Case{9, 6, 2, 2}, Case{10, 4, 5, 1}}) {
        const CpuTexture image = wideRangeTexture(c.w, c.h, c.channels, c.w);
        const auto planes = guide_reference::centredPatchPlanes(image, c.radius);
        for (int team : {1, 3}) {
            TeamSize size(team);
            const PatchFeatures features(image, c.radius);
            ASSERT_EQ(features.count(), static_cast<int>(planes.size()));
            const std::vector<float> means = features.means();
            std::vector<float> row(planes.size() * c.w);
            for (unsigned y = 0; y < c.h; ++y) {
                features.gather(y, 0, c.w, 0, features.count(), means.data(), row.data(), c.w, 1);
                for (size_t i = 0; i < planes.size(); ++i) {
                    ASSERT_TRUE(sameBits(row.data() + i * c.w, planes[i].data() + y * c.w, c.w))
                        << "feature " << i << " row " << y << " team " << team;
                }
            }
        }
    }
}

TEST(StaticBlock, SplitsAsTheStaticLoopScheduleDoes) {
    for (size_t n : {0, 1, 3, 4, 10, 11, 1027}) {
        for (int parts : {1, 4, 7}) {
            std::vector<int> owner(n, -1);
#pragma omp parallel for num_threads(parts) schedule(static)
            for (long i = 0; i < static_cast<long>(n); ++i) owner[i] = omp_get_thread_num();
            size_t next = 0;
            for (int t = 0; t < parts; ++t) {
                const quendel::ItemRange range = quendel::staticBlock(n, parts, t);
                ASSERT_EQ(range.begin, next);
                for (size_t i = range.begin; i < range.end; ++i) ASSERT_EQ(owner[i], t);
                next = range.end;
            }
            EXPECT_EQ(next, n);
        }
    }
    const quendel::ItemRange third = quendel::staticBlock(10, 4, 2);
    EXPECT_EQ(third.begin, 6u);
    EXPECT_EQ(third.end, 8u);
}

TEST(ScatterMatrix, SameBitsAtEveryTeamSizeAndAsFourBlockSums) {
    // 301 x 3 pixels: blocks start inside rows and rows span several tiles.
    const CpuTexture image = wideRangeTexture(301, 3, 3, 5);
    const auto planes = guide_reference::centredPatchPlanes(image, 1);
    const quendel::CpuMatrix expected = guide_reference::scatter(planes);
    const size_t entries = 27 * 27;
    for (int team : {1, 2, 4, 7}) {
        TeamSize size(team);
        const PatchFeatures features(image, 1);
        const quendel::CpuMatrix scatter = quendel::scatterMatrix(features, features.means());
        ASSERT_EQ(scatter.getWidth(), 27);
        ASSERT_EQ(scatter.getHeight(), 27);
        EXPECT_TRUE(sameBits(scatter.getData(), expected.getData(), entries)) << "team " << team;
    }
    // The split matters: one sum over all pixels in order differs somewhere.
    bool anyDifferent = false;
    for (size_t i = 0; i < 27 && !anyDifferent; ++i) {
        for (size_t j = 0; j <= i; ++j) {
            float sum = 0.0f;
            for (size_t p = 0; p < planes[i].size(); ++p) sum = sum + planes[i][p] * planes[j][p];
            anyDifferent = anyDifferent || sum != expected.getData()[i * 27 + j];
        }
    }
    EXPECT_TRUE(anyDifferent);
}
