// Frames one pixel wide or one pixel high: in memory, on every team size, and through the
// program with its files, where one row or one column is all there is to flip and to filter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "default_mode/pipeline.h"
#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"
#include "quendel/threads.h"
#include "test_files.h"

using namespace filtering;

namespace {

Frame noisyFrame(int width, int height) {
    Frame frame;
    frame.camera = {0.25f, -0.5f, 3.0f};
    frame.settings = {0.2f, 6.0f};
    cv::RNG random(static_cast<uint64_t>(width) * 1000 + static_cast<uint64_t>(height));
    for (cv::Mat& layer : frame.layers) {
        layer.create(height, width, CV_32FC3);
        random.fill(layer, cv::RNG::UNIFORM, 0.0f, 1.0f);
    }
    // Normals in [-1, 1] and positions spread out, as the renderer writes them.
    frame[Normals] = frame[Normals] * 2.0f - 1.0f;
    frame[Positions] = frame[Positions] * 10.0f;
    return frame;
}

bool bitIdentical(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() &&
           std::memcmp(a.data, b.data, a.total() * a.elemSize()) == 0;
}

bool allFinite(const cv::Mat& image) {
    return cv::checkRange(image, true, nullptr, -1e30, 1e30);
}

cv::Mat filteredLight(const Frame& frame) {
    int64_t ticks = 0;
    return filterSecondary(filterInputs(frame), ticks).view().clone();
}

// Sum of the steps between neighbours along a line of pixels, every channel.
double roughness(const cv::Mat& line) {
    const cv::Mat flat = line.reshape(1, static_cast<int>(line.total()));  // a pixel a row
    return cv::norm(flat.rowRange(1, flat.rows), flat.rowRange(0, flat.rows - 1), cv::NORM_L1);
}

class ThreadCount {
  public:
    explicit ThreadCount(int count) : previous_(quendel::threadCount()) {
        quendel::setThreadCount(count);
    }
    ~ThreadCount() { quendel::setThreadCount(previous_); }

  private:
    int previous_;
};

const cv::Size kOddSizes[] = {{1, 1}, {1, 2}, {2, 1}, {1, 7}, {7, 1}, {1, 300}, {300, 1}};

}  // namespace

TEST(OddSizes, DenoiseKeepsTheSizeAndStaysFinite) {
    for (const cv::Size size : kOddSizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const Frame frame = noisyFrame(size.width, size.height);
        const DenoisedFrame result = denoise(frame);
        ASSERT_EQ(result.image.size(), size);
        ASSERT_EQ(result.image.type(), CV_32FC3);
        EXPECT_TRUE(allFinite(result.image));
    }
}

TEST(OddSizes, SinglePixelHasNoNeighboursToAverage) {
    const Frame frame = noisyFrame(1, 1);
    EXPECT_TRUE(bitIdentical(filteredLight(frame), frame[Secondary]));
}

TEST(OddSizes, LineFiltersAverageAlongTheLine) {
    // A smooth scene with noisy light, filtered with both sigmas at their upper clamp: the noise
    // along the line goes down, and a constant light stays what it was.
    for (const cv::Size size : {cv::Size(1, 300), cv::Size(300, 1)}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        Frame frame = noisyFrame(size.width, size.height);
        frame.settings = {10.0f, 10.0f};
        frame[Normals].setTo(cv::Scalar(0, 0, 1));
        frame[TexColor].setTo(cv::Scalar(0.5, 0.5, 0.5));
        frame[Secondary] = frame[Secondary] * 0.1f + 0.5f;
        const cv::Mat smoothed = filteredLight(frame);
        EXPECT_LT(roughness(smoothed), 0.5 * roughness(frame[Secondary]));

        frame[Secondary].setTo(cv::Scalar(0.25, 0.5, 0.75));
        cv::Mat difference;
        cv::absdiff(filteredLight(frame), frame[Secondary], difference);
        EXPECT_LE(cv::norm(difference, cv::NORM_INF), 1e-6);
    }
}

TEST(OddSizes, SameResultOnAnyTeamSize) {
    // More threads than rows, columns or pixels: some members of the team get no work at all.
    for (const cv::Size size : {cv::Size(1, 37), cv::Size(37, 1), cv::Size(2, 3)}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const Frame frame = noisyFrame(size.width, size.height);
        cv::Mat single;
        {
            ThreadCount one(1);
            single = denoise(frame).image;
        }
        for (int team : {2, 4, 8, 64}) {
            ThreadCount count(team);
            EXPECT_TRUE(bitIdentical(denoise(frame).image, single)) << team << " threads";
        }
    }
}

TEST(OddSizes, ProgramWritesTheLineItFiltered) {
    for (const cv::Size size : {cv::Size(1, 5), cv::Size(5, 1)}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        TemporaryFolder folder;
        const FramePaths paths(folder.path().string());
        std::filesystem::create_directories(paths.inputFolder());
        const Frame frame = noisyFrame(size.width, size.height);
        for (int layer = 0; layer < LayerCount; ++layer) {
            ASSERT_TRUE(save_float4(paths.layer(static_cast<Layer>(layer)), frame.layers[layer]));
        }
        writeText(paths.camera(), "0.25 -0.5 3\n");
        writeText(paths.settings(), "0 0 0 0 0.2 6\n");

        const std::string command =
            std::string(FILTERING_BINARY) + " --root " + folder.path().string() + " > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);

        const std::vector<char> bytes = readBytes(paths.output());
        ASSERT_EQ(bytes.size(), 8u + 16u * static_cast<size_t>(size.area()));
        int32_t header[2] = {};
        std::memcpy(header, bytes.data(), sizeof header);
        EXPECT_EQ(header[0], size.width);
        EXPECT_EQ(header[1], size.height);
        // The file's rows run bottom first: read back, it is the frame the pipeline makes.
        EXPECT_TRUE(bitIdentical(read_float4(paths.output()), denoise(frame).image));
    }
}
