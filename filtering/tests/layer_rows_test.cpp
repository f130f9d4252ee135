// Layers larger than one read block: every row arrives once, from the right
// place in the file, however the rows split into blocks and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <opencv2/core.hpp>
#include <vector>

#include "frame_io/layer_files.h"
#include "test_files.h"

using namespace filtering;

namespace {

// Each float of the file holds its own index, exact below 2^24.
std::vector<float> numbered(size_t count) {
    std::vector<float> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<float>(i);
    return values;
}

// The index in the file of channel c of image pixel (x, y), rows bottom-up.
float fileIndex(cv::Size size, int x, int y, int c) {
    const int fileRow = size.height - 1 - y;
    return static_cast<float>((static_cast<size_t>(fileRow) * size.width + x) * 4 + c);
}

}  // namespace

TEST(ReadLayerRows, LayersOfSeveralBlocksArriveWholeAndInPlace) {
    TemporaryFolder folder;
    // 4800-byte rows: blocks of 218 rows, the last one short; then rows of
    // over a block each, read one per block.
    for (const cv::Size size : {cv::Size(300, 1000), cv::Size(70000, 3)}) {
        const auto path = folder.path() / "layer.imagef4";
        writeRawImagef4(path, size.width, size.height, numbered(size.area() * 4));

        const auto counts = std::make_unique<std::atomic<int>[]>(size.height);
        std::atomic<int> misplaced{0};
        ASSERT_TRUE(readLayerRows(path.string(), size, [&](int row, const float* rgba) {
            ++counts[row];
            for (int x = 0; x < size.width; ++x) {
                for (int c = 0; c < 4; ++c) {
                    misplaced += rgba[4 * x + c] != fileIndex(size, x, row, c) ? 1 : 0;
                }
            }
        }));
        EXPECT_EQ(misplaced, 0) << size;
        for (int row = 0; row < size.height; ++row) {
            ASSERT_EQ(counts[row], 1) << "row " << row << " of " << size;
        }

        const cv::Mat image = read_float4(path.string());
        ASSERT_EQ(image.size(), size);
        int wrong = 0;
        for (int y = 0; y < size.height; ++y) {
            for (int x = 0; x < size.width; ++x) {
                const cv::Vec3f pixel = image.at<cv::Vec3f>(y, x);
                wrong += pixel != cv::Vec3f(fileIndex(size, x, y, 2), fileIndex(size, x, y, 1),
                                            fileIndex(size, x, y, 0));
            }
        }
        EXPECT_EQ(wrong, 0) << size;
    }
}

TEST(ReadLayerRows, AnotherSizeThanExpectedIsRefusedBeforeAnyRow) {
    TemporaryFolder folder;
    const auto path = folder.path() / "layer.imagef4";
    writeRawImagef4(path, 3, 2, numbered(3 * 2 * 4));
    for (const cv::Size expected : {cv::Size(2, 3), cv::Size(3, 1)}) {
        int taken = 0;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(readLayerRows(path.string(), expected, [&](int, const float*) { ++taken; }));
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_EQ(taken, 0);
        EXPECT_NE(message.find(path.string()), std::string::npos) << message;
    }
}
