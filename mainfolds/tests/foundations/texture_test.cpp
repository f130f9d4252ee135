#include "quendel/texture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "foundations/huge_page_planes.h"
#include "foundations/test_textures.h"
#include "quendel/matrix.h"

using quendel::CpuTexture;
using quendel::HugePagePlanes;

namespace {

std::vector<float> planeOf(const CpuTexture& texture, unsigned channel) {
    const float* plane = texture.getChannel(channel);
    return {plane, plane + texture.getPixelsCount()};
}

CpuTexture randomTexture(unsigned width, unsigned height, unsigned channels, unsigned seed) {
    return quendel::test::randomTexture(width, height, channels, seed, -1.0f, 1.0f);
}

}  // namespace

TEST(TextureLayout, InterleavedAndPlanarDataFillTheRightPlanes) {
    const float data[] = {1, 2, 3, 4, 5, 6};
    const CpuTexture interleaved(data, 2, 1, 3, true);
    EXPECT_EQ(planeOf(interleaved, 0), (std::vector<float>{1, 4}));
    EXPECT_EQ(planeOf(interleaved, 1), (std::vector<float>{2, 5}));
    EXPECT_EQ(planeOf(interleaved, 2), (std::vector<float>{3, 6}));

    const CpuTexture planar(data, 2, 1, 3, false);
    EXPECT_EQ(planeOf(planar, 0), (std::vector<float>{1, 2}));
    EXPECT_EQ(planeOf(planar, 1), (std::vector<float>{3, 4}));
    EXPECT_EQ(planeOf(planar, 2), (std::vector<float>{5, 6}));
}

TEST(TextureLayout, NullDataGivesZeroPlanesAndZeroChannelsGiveNone) {
    const CpuTexture zeros(nullptr, 3, 2, 2, true);
    EXPECT_EQ(zeros.getPixelsCount(), 6u);
    EXPECT_EQ(planeOf(zeros, 0), std::vector<float>(6, 0.0f));
    EXPECT_EQ(planeOf(zeros, 1), std::vector<float>(6, 0.0f));

    const float unused = 7.0f;
    const CpuTexture none(&unused, 3, 2, 0, true);
    EXPECT_EQ(none.getChannelsCount(), 0u);
    EXPECT_TRUE(none.hasSize(3, 2, 0));
    EXPECT_FALSE(none.hasSize(3, 2, 1));

    const CpuTexture empty;
    EXPECT_TRUE(empty.hasSize(0, 0, 0));
}

// Within a huge-page scope, planes of 2 MiB and more sit on huge-page
// boundaries (sweeps down their columns depend on it for speed), private
// copies included, and start zero-filled even when they reuse a block that
// held other values; released in or out of the scope, every kind goes back
// where it came from (the sanitizer builds check that).
TEST(TextureLayout, LargePlanesOfAHugePageScopeStartOnHugePageBoundaries) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    CpuTexture outside(nullptr, 1024, 768, 1, true);
    auto zeroFilled = [](const float* plane, std::size_t count) {
        return std::all_of(plane, plane + count, [](float v) { return v == 0.0f; });
    };
    {
        const HugePagePlanes scope;
        {
            CpuTexture used(nullptr, 1024, 768, 1, true);
            std::fill(used.getChannel(0), used.getChannel(0) + 1024 * 768, 7.0f);
        }
        const CpuTexture large(nullptr, 1024, 768, 2, true);
        const CpuTexture copy = outside.clone(1u);
        const CpuTexture small(nullptr, 3, 2, 1, true);
        for (const float* plane : {large.getChannel(0), large.getChannel(1), copy.getChannel(0)}) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(plane) % kHugePage, 0u);
            EXPECT_TRUE(zeroFilled(plane, 1024 * 768));
        }
        EXPECT_TRUE(zeroFilled(small.getChannel(0), 6));
        outside = large;
    }
    EXPECT_TRUE(zeroFilled(outside.getChannel(1), 1024 * 768));
}

// Large planes sit on huge-page boundaries outside a scope too. A plane of
// unset values takes its block as it is (here a kept one that held sevens),
// while planes of zeros, large matrices included, are filled.
TEST(TextureLayout, UnsetPlanesTakeTheirBlockAsItIs) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    constexpr std::size_t kValues = 1024 * 768;
    {
        const HugePagePlanes scope;
        const float* used = nullptr;
        {
            CpuTexture::Plane plane(kValues, 0.0f);
            std::fill(plane.begin(), plane.end(), 7.0f);
            used = plane.data();
        }
        const CpuTexture::Plane unset(quendel::UnsetValues{}, quendel::UnsetValues(kValues));
        ASSERT_EQ(unset.size(), kValues);
        ASSERT_EQ(unset.data(), used);
        EXPECT_TRUE(std::all_of(unset.begin(), unset.end(), [](float v) { return v == 7.0f; }));
    }
    const CpuTexture outside(nullptr, 1024, 768, 1, true);
    const quendel::CpuMatrix matrix(1024, 768);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(outside.getChannel(0)) % kHugePage, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(matrix.getData()) % kHugePage, 0u);
    EXPECT_TRUE(std::all_of(outside.getChannel(0), outside.getChannel(0) + kValues,
                            [](float v) { return v == 0.0f; }));
    EXPECT_TRUE(std::all_of(matrix.getData(), matrix.getData() + kValues,
                            [](float v) { return v == 0.0f; }));
}

TEST(TextureSharing, CopiesAndAssignmentsSharePlanes) {
    CpuTexture a(nullptr, 2, 2, 2, true);
    CpuTexture copy(a);
    copy.getChannel(0)[3] = 5.0f;
    EXPECT_EQ(a.getChannel(0)[3], 5.0f);

    CpuTexture assigned(nullptr, 7, 1, 1, true);
    assigned = a;
    EXPECT_TRUE(assigned.hasSize(2, 2, 2));
    assigned.getChannel(1)[0] = -1.0f;
    EXPECT_EQ(a.getChannel(1)[0], -1.0f);

    CpuTexture& alias = assigned;
    assigned = alias;
    EXPECT_TRUE(assigned.hasSize(2, 2, 2));
    EXPECT_EQ(assigned.getChannel(1), a.getChannel(1));
}

TEST(TextureSharing, AssignmentReleasesThePlanesItHeld) {
    CpuTexture a(nullptr, 2, 2, 1, true);
    const std::weak_ptr<CpuTexture::Plane> old = a.planeHandle(0);
    a = CpuTexture(nullptr, 1, 1, 1, true);
    EXPECT_TRUE(old.expired());
}

TEST(TextureClone, MaskSelectsPrivateChannels) {
    CpuTexture a = randomTexture(3, 3, 3, 1);
    const std::vector<float> before0 = planeOf(a, 0);
    CpuTexture b = a.clone(1);
    b.getChannel(0)[0] += 1.0f;
    EXPECT_EQ(planeOf(a, 0), before0);
    b.getChannel(1)[0] = 42.0f;
    EXPECT_EQ(a.getChannel(1)[0], 42.0f);
    EXPECT_EQ(b.getChannel(2), a.getChannel(2));

    const CpuTexture full = a.clone(0xFFFFFFFFu);
    for (unsigned c = 0; c < 3; ++c) {
        EXPECT_NE(full.getChannel(c), a.getChannel(c));
        EXPECT_EQ(planeOf(full, c), planeOf(a, c));
    }
    const CpuTexture shared = a.clone(0);
    for (unsigned c = 0; c < 3; ++c) EXPECT_EQ(shared.getChannel(c), a.getChannel(c));
}

TEST(TextureClone, ChannelsAboveThirtyOneStayShared) {
    const CpuTexture many(nullptr, 1, 1, 34, true);
    const CpuTexture copy = many.clone(0xFFFFFFFFu);
    EXPECT_NE(copy.getChannel(31), many.getChannel(31));
    EXPECT_EQ(copy.getChannel(32), many.getChannel(32));
    EXPECT_EQ(copy.getChannel(33), many.getChannel(33));

    const CpuTexture noPlanes(nullptr, 4, 5, 0, true);
    EXPECT_TRUE(noPlanes.clone(0xFFFFFFFFu).hasSize(4, 5, 0));
}

TEST(TextureResampling, CasesWithKnownResults) {
    const float ramp[] = {0, 1};
    CpuTexture target(nullptr, 4, 1, 1, true);
    ASSERT_TRUE(CpuTexture(ramp, 2, 1, 1, true).bilinearScaleTo(target));
    EXPECT_EQ(planeOf(target, 0), (std::vector<float>{0, 0.5f, 1, 1}));

    const CpuTexture source = randomTexture(4, 4, 2, 3);
    CpuTexture half(nullptr, 2, 2, 2, true);
    source.bilinearScaleTo(half);
    for (unsigned c = 0; c < 2; ++c) {
        const float* s = source.getChannel(c);
        EXPECT_EQ(planeOf(half, c), (std::vector<float>{s[0], s[2], s[8], s[10]}));
    }

    CpuTexture same(nullptr, 4, 4, 2, true);
    source.bilinearScaleTo(same);
    EXPECT_EQ(planeOf(same, 0), planeOf(source, 0));
    EXPECT_EQ(planeOf(same, 1), planeOf(source, 1));
}

TEST(TextureResampling, MatchesAStraightforwardComputationOnARandomImage) {
    for (auto [ws, hs, wd, hd] :
         {std::array<unsigned, 4>{37, 23, 9, 6}, std::array<unsigned, 4>{10, 7, 33, 29},
          std::array<unsigned, 4>{64, 48, 16, 12}, std::array<unsigned, 4>{5, 5, 5, 17}}) {
        const CpuTexture source = randomTexture(ws, hs, 2, ws * hd);
        CpuTexture target(nullptr, wd, hd, 2, true);
        source.bilinearScaleTo(target);
        const double sx = double(wd) / ws, sy = double(hd) / hs;
        for (unsigned c = 0; c < 2; ++c) {
            const float* s = source.getChannel(c);
            const float* d = target.getChannel(c);
            for (unsigned y = 0; y < hd; ++y) {
                for (unsigned x = 0; x < wd; ++x) {
                    const double fx = x / sx, fy = y / sy;
                    const unsigned x0 = std::min<unsigned>(unsigned(fx), ws - 1);
                    const unsigned y0 = std::min<unsigned>(unsigned(fy), hs - 1);
                    const unsigned x1 = std::min(x0 + 1, ws - 1), y1 = std::min(y0 + 1, hs - 1);
                    const double tx = fx - x0, ty = fy - y0;
                    auto at = [s, w = ws](unsigned xx, unsigned yy) {
                        return double(s[yy * w + xx]);
                    };
                    const double left = at(x0, y0) + ty * (at(x0, y1) - at(x0, y0));
                    const double right = at(x1, y0) + ty * (at(x1, y1) - at(x1, y0));
                    const double expected = left + tx * (right - left);
                    ASSERT_NEAR(d[y * wd + x], expected, 1e-5)
                        << ws << "x" << hs << " -> " << wd << "x" << hd << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(TextureResampling, OddTargetsAreHandledSafely) {
    const CpuTexture source = randomTexture(6, 6, 3, 9);
    CpuTexture fewer(nullptr, 3, 3, 1, true);
    EXPECT_TRUE(source.bilinearScaleTo(fewer));
    EXPECT_EQ(fewer.getChannel(0)[4], source.getChannel(0)[2 * 6 + 2]);

    const float value = 3.0f;
    CpuTexture untouched(&value, 1, 1, 1, true);
    EXPECT_TRUE(CpuTexture(nullptr, 0, 0, 1, true).bilinearScaleTo(untouched));
    EXPECT_EQ(untouched.getChannel(0)[0], 3.0f);
}

TEST(TextureConcurrency, SharedPlanesSurviveCopiesFromManyThreads) {
    CpuTexture original = randomTexture(16, 16, 4, 5);
    const std::vector<float> expected = planeOf(original, 2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&original, t] {
            CpuTexture local;
            for (int i = 0; i < 20000; ++i) {
                CpuTexture copy(original);
                local = copy;
                if ((i + t) % 7 == 0) local = local.clone(0);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (unsigned c = 0; c < 4; ++c) EXPECT_EQ(original.planeHandle(c).use_count(), 1);
    EXPECT_EQ(planeOf(original, 2), expected);
}
