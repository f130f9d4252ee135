// Runs the filtering program as a user would and checks what it says and writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "frame_io/frame_paths.h"
#include "program_run.h"
#include "test_files.h"

namespace {

// A small frame whose every layer is valid.
class FrameFolder : public TemporaryFolder {
  public:
    FrameFolder() : paths(path().string()) {
        std::filesystem::create_directories(paths.inputFolder());
        for (int layer = 0; layer < filtering::LayerCount; ++layer) {
            writeLayer(static_cast<filtering::Layer>(layer), 6, 5);
        }
        writeText(paths.camera(), "0 0 -5\n");
        writeText(paths.settings(), "0 0 0 0 0.3 4\n");
    }
    void writeLayer(filtering::Layer layer, int width, int height,
                    const std::vector<size_t>& nanValues = {}) {
        std::vector<float> pixels(static_cast<size_t>(width) * height * 4);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = 0.1f * float(i % 13) + 0.05f * static_cast<float>(layer);
        for (size_t i : nanValues) pixels[i] = std::nanf("");
        writeRawImagef4(paths.layer(layer), width, height, pixels);
    }
    std::string rootArgument() const { return "--root " + path().string(); }
    bool outputExists() const { return std::filesystem::exists(paths.output()); }

    filtering::FramePaths paths;
};

}  // namespace

TEST(FilteringProgram, HelpAndBadOptions) {
    const ProgramRun help = runFiltering("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage:"), std::string::npos);

    const ProgramRun bad = runFiltering("--frobnicate");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.output.find("unknown option --frobnicate"), std::string::npos);
    EXPECT_NE(bad.output.find("usage:"), std::string::npos);

    const ProgramRun missingValue = runFiltering("--root");
    EXPECT_NE(missingValue.status, 0);
}

TEST(FilteringProgram, ValidFrameRunsToTheEnd) {
    FrameFolder frame;
    const ProgramRun run = runFiltering(frame.rootArgument());
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST(FilteringProgram, UnusableInputsFailLoudlyAndWriteNothing) {
    struct Case {
        const char* name;
        void (*spoil)(FrameFolder&);
        std::string expectedInMessage;
    };
    const std::vector<Case> cases = {
        {"missing layer",
         [](FrameFolder& f) { std::filesystem::remove(f.paths.layer(filtering::Normals)); },
         "layer_0_2_normals.imagef4"},
        {"truncated layer",
         [](FrameFolder& f) {
             std::filesystem::resize_file(f.paths.layer(filtering::Rest), 8 + 16 * 7);
         },
         "layer_0_7_color_the_rest.imagef4"},
        {"bad header",
         [](FrameFolder& f) {
             writeRawImagef4(f.paths.layer(filtering::Positions), -6, 5, std::vector<float>(120));
         },
         "layer_0_1_positions.imagef4"},
        {"layer of another size", [](FrameFolder& f) { f.writeLayer(filtering::TexCoord, 5, 5); },
         "layer_0_4_texcoord.imagef4"},
        {"empty layer",
         [](FrameFolder& f) { writeRawImagef4(f.paths.layer(filtering::Primary), 0, 0, {}); },
         "layer_0_5_primary_diffuse.imagef4"},
        {"missing camera", [](FrameFolder& f) { std::filesystem::remove(f.paths.camera()); },
         "camera.txt"},
        {"short settings", [](FrameFolder& f) { writeText(f.paths.settings(), "1 2 3 4 5"); },
         "settings.txt"},
    };
    for (const Case& c : cases) {
        FrameFolder frame;
        c.spoil(frame);
        const ProgramRun run = runFiltering(frame.rootArgument());
        EXPECT_NE(run.status, 0) << c.name;
        EXPECT_NE(run.output.find(c.expectedInMessage), std::string::npos)
            << c.name << ": " << run.output;
        EXPECT_FALSE(frame.outputExists()) << c.name;
    }
}

TEST(FilteringProgram, NonFiniteSamplesAreReportedAndReplaced) {
    FrameFolder frame;
    // Values 3 (alpha, not used) and 5 and 14 (green and blue) of the file.
    frame.writeLayer(filtering::Secondary, 6, 5, {3, 5, 14});
    const ProgramRun run = runFiltering(frame.rootArgument());
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("filtering: layer_0_6_secondary_diffuse.imagef4: 2 non-finite values "
                              "replaced by the mean of their neighbours\n"),
              std::string::npos)
        << run.output;
    const std::vector<char> bytes = readBytes(frame.paths.output());
    ASSERT_EQ(bytes.size(), 8u + 6 * 5 * 16);
    for (size_t i = 8; i < bytes.size(); i += 4) {
        float value;
        std::memcpy(&value, &bytes[i], 4);
        EXPECT_TRUE(std::isfinite(value)) << "value " << (i - 8) / 4;
    }

    std::vector<size_t> everyValue(6 * 5 * 4);
    for (size_t i = 0; i < everyValue.size(); ++i) everyValue[i] = i;
    frame.writeLayer(filtering::TexColor, 6, 5, everyValue);
    std::filesystem::remove(frame.paths.output());
    const ProgramRun hopeless = runFiltering(frame.rootArgument());
    EXPECT_NE(hopeless.status, 0);
    EXPECT_NE(hopeless.output.find("layer_0_3_texcolor.imagef4: all 90 values are non-finite; no "
                                   "frame can be made"),
              std::string::npos)
        << hopeless.output;
    EXPECT_FALSE(frame.outputExists());
}
