// Renders a small sample frame, denoises it with the filtering program and
// checks what the program wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "frame_files.h"
#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"
#include "image_stats.h"
#include "program_run.h"
#include "test_files.h"

namespace {

class SampleFrame : public TemporaryFolder {
  public:
    static constexpr int kWidth = 64, kHeight = 48;

    SampleFrame() : paths(path().string()) {
        const sample_frame::Scene scene = sample_frame::Scene::room();
        const sample_frame::RenderRequest request{kWidth, kHeight, 2, 3, 0};
        const sample_frame::FrameLayers layers = sample_frame::renderLayers(scene, request);
        written = sample_frame::writeFrame(path().string(), layers, scene.camera.position,
                                           sample_frame::kSampleSettings);
        sample_frame::RenderRequest referenceRequest = request;
        referenceRequest.samplesPerPixel = 256;
        written = written &&
                  sample_frame::writeImage(sample_frame::referenceFramePath(path().string()),
                                           sample_frame::renderReference(scene, referenceRequest),
                                           kWidth, kHeight);
    }

    cv::Mat read(const std::string& file) const { return filtering::read_float4(file); }

    filtering::FramePaths paths;
    bool written = false;
};

TEST(EndToEnd, FilteredFrameIsCloserToTheReferenceThanTheNoisyOne) {
    SampleFrame frame;
    ASSERT_TRUE(frame.written);
    const auto preview = frame.path() / "preview.png";
    const ProgramRun run =
        runFiltering("--root " + frame.path().string() + " --preview " + preview.string());
    ASSERT_EQ(run.status, 0) << run.output;
    double seconds = -1;
    ASSERT_EQ(std::sscanf(run.output.c_str(), "Spent %lf seconds\n", &seconds), 1) << run.output;
    EXPECT_GT(seconds, 0.0);

    const cv::Mat output = frame.read(frame.paths.output());
    ASSERT_EQ(output.cols, SampleFrame::kWidth);
    ASSERT_EQ(output.rows, SampleFrame::kHeight);
    EXPECT_EQ(imagef4::summarize(output).nanCount, 0u);
    const cv::Mat noisy = frame.read(sample_frame::noisyFramePath(frame.path().string()));
    const cv::Mat reference = frame.read(sample_frame::referenceFramePath(frame.path().string()));
    const double noisyPsnr = imagef4::psnr(noisy, reference);
    const double filteredPsnr = imagef4::psnr(output, reference);
    EXPECT_GT(filteredPsnr, noisyPsnr + 1.0) << "noisy " << noisyPsnr << " dB";
    EXPECT_TRUE(std::filesystem::exists(preview));
}

TEST(EndToEnd, OutputOptionLeavesTheDefaultPlaceAlone) {
    SampleFrame frame;
    ASSERT_TRUE(frame.written);
    const auto elsewhere = frame.path() / "elsewhere.imagef4";
    const ProgramRun run =
        runFiltering("--root " + frame.path().string() + " --output " + elsewhere.string());
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(frame.read(elsewhere.string()).cols, SampleFrame::kWidth);
    EXPECT_FALSE(std::filesystem::exists(frame.paths.output()));
}

TEST(EndToEnd, EquallyFarPositionsGiveNoNan) {
    // Every pixel three units from the camera, along the axes and diagonals:
    // the distance map has no range.
    SampleFrame frame;
    ASSERT_TRUE(frame.written);
    cv::Mat positions = frame.read(frame.paths.layer(filtering::Positions));
    const cv::Vec3f onSphere[] = {{3, 0, 0}, {0, -3, 0}, {1, 2, 2}, {-2, 1, -2}};
    positions.forEach<cv::Vec3f>(
        [&](cv::Vec3f& p, const int* at) { p = onSphere[(at[0] + at[1]) % 4]; });
    ASSERT_TRUE(filtering::save_float4(frame.paths.layer(filtering::Positions), positions));
    writeText(frame.paths.camera(), "0 0 0\n");
    const ProgramRun run = runFiltering("--root " + frame.path().string());
    ASSERT_EQ(run.status, 0) << run.output;
    const cv::Mat output = frame.read(frame.paths.output());
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(imagef4::summarize(output).nanCount, 0u);
}

TEST(EndToEnd, BrokenFrameFailsBeforeFilteringAndWritesNothing) {
    SampleFrame frame;
    ASSERT_TRUE(frame.written);
    const cv::Mat small(SampleFrame::kHeight - 1, SampleFrame::kWidth, CV_32FC3,
                        cv::Scalar::all(0.5));
    ASSERT_TRUE(filtering::save_float4(frame.paths.layer(filtering::TexColor), small));
    const auto preview = frame.path() / "preview.png";
    const ProgramRun run =
        runFiltering("--root " + frame.path().string() + " --preview " + preview.string());
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.output.find("layer_0_3_texcolor.imagef4"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("64 x 47"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Spent"), std::string::npos) << "no filtering may start";
    EXPECT_FALSE(std::filesystem::exists(frame.paths.output()));
    EXPECT_FALSE(std::filesystem::exists(preview));
}

}  // namespace
