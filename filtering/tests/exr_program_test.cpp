// The filtering program on OpenEXR frames, run as a user would: bad input
// refused before anything is written, and the result of a frame the same
// bit for bit whether it comes as layers or as one EXR file.
#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputFile.h>
#include <ImfInputFile.h>
#include <ImfPartType.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "exr_fixture.h"
#include "frame_conversion.h"
#include "frame_files.h"
#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"
#include "program_run.h"
#include "test_files.h"

namespace {

float ramp(int x, int y, int k) {
    return 0.1f + 0.01f * float(x + 3 * y + k);
}

// A small frame with common pass names and no camera: distances from depth.
void writeDepthFrame(const std::string& path, int width = 8, int height = 6) {
    ExrFixture fixture;
    fixture.width = width;
    fixture.height = height;
    addPass(fixture, "", ramp);
    for (const char* pass : {"diffuse_direct", "diffuse_indirect", "diffuse_albedo"}) {
        addPass(fixture, pass, ramp);
    }
    addPass(
        fixture, "N", [](int, int, int k) { return k == 2 ? 1.0f : 0.0f; }, "XYZ");
    fixture.channels.push_back({"Z", [](int x, int y) { return 3.0f + 0.1f * float(x + y); }});
    fixture.write(path);
}

void writeDeepFile(const std::string& path) {
    Imf::Header header(2, 2);
    header.setType(Imf::DEEPSCANLINE);
    header.compression() = Imf::ZIPS_COMPRESSION;
    header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
    Imf::DeepScanLineOutputFile file(path.c_str(), header);
    std::vector<unsigned> counts(4, 0);
    std::vector<float*> samples(4, nullptr);
    Imf::DeepFrameBuffer buffer;
    buffer.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data()),
                                             sizeof(unsigned), 2 * sizeof(unsigned)));
    buffer.insert("Z", Imf::DeepSlice(Imf::FLOAT, reinterpret_cast<char*>(samples.data()),
                                      sizeof(float*), 2 * sizeof(float*), sizeof(float)));
    file.setFrameBuffer(buffer);
    file.writePixels(2);
}

class ExrFolder : public TemporaryFolder {
  public:
    std::string at(const std::string& name) const { return (path() / name).string(); }
    ProgramRun run(const std::string& input, const std::string& extra = "") const {
        return runFiltering("--input " + input + " --output " + at("out.exr") + " " + extra);
    }
    bool wroteOutput() const { return std::filesystem::exists(at("out.exr")); }
};

}  // namespace

TEST(FilteringExrProgram, DenoisesADepthOnlyFrameBesideItself) {
    ExrFolder folder;
    writeDepthFrame(folder.at("frame.exr"));
    const ProgramRun run = runFiltering("--input " + folder.at("frame.exr"));
    ASSERT_EQ(run.status, 0) << run.output;
    Imf::InputFile written(folder.at("frame.denoised.exr").c_str());
    EXPECT_EQ(written.header().dataWindow().max.x, 7);
    EXPECT_EQ(written.header().channels().findChannel("R")->type, Imf::FLOAT);
    EXPECT_EQ(written.header().channels().findChannel("diffuse_direct.R"), nullptr);

    const ProgramRun half = folder.run(folder.at("frame.exr"), "--half --keep-passes --quality");
    ASSERT_EQ(half.status, 0) << half.output;
    Imf::InputFile kept(folder.at("out.exr").c_str());
    EXPECT_EQ(kept.header().channels().findChannel("G")->type, Imf::HALF);
    ASSERT_NE(kept.header().channels().findChannel("diffuse_direct.R"), nullptr);
    ASSERT_NE(kept.header().channels().findChannel("Z"), nullptr);
    std::vector<float> depth(48);
    Imf::FrameBuffer buffer;
    buffer.insert("Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(depth.data()), 4, 32));
    kept.setFrameBuffer(buffer);
    kept.readPixels(0, 5);
    EXPECT_EQ(depth[8 * 2 + 3], 3.0f + 0.1f * 5.0f);
}

TEST(FilteringExrProgram, RefusesBadInputWithoutWritingAnything) {
    ExrFolder folder;
    writeDepthFrame(folder.at("frame.exr"));
    const std::vector<char> whole = readBytes(folder.at("frame.exr"));
    std::ofstream(folder.at("cut.exr"), std::ios::binary)
        .write(whole.data(), static_cast<std::streamsize>(whole.size() * 2 / 3));
    writeText(folder.at("text.exr"), "not an image\n");
    writeDeepFile(folder.at("deep.exr"));
    ExrFixture wide;
    wide.width = filtering::kMaxFrameSide + 1;
    wide.height = 1;
    wide.channels.push_back({"R", [](int, int) { return 0.0f; }});
    wide.write(folder.at("wide.exr"));
    ExrFixture lacking;
    addPass(lacking, "", ramp);
    addPass(lacking, "diffuse_direct", ramp);
    addPass(lacking, "diffuse_albedo", ramp);
    addPass(lacking, "N", ramp, "XYZ");
    lacking.channels.push_back({"Z", [](int, int) { return 1.0f; }});
    lacking.write(folder.at("lacking.exr"));

    struct Case {
        std::string file, expected;
    };
    for (const Case& bad :
         {Case{"cut.exr", "cut short or damaged"}, Case{"text.exr", "not a readable OpenEXR file"},
          Case{"deep.exr", "is a deep file"}, Case{"wide.exr", "larger than the largest frame"},
          Case{"lacking.exr", "no secondary pass; looked for diffuse_indirect"},
          Case{"missing.exr", "not a readable OpenEXR file"}}) {
        const ProgramRun run = folder.run(folder.at(bad.file));
        EXPECT_EQ(run.status, 1) << bad.file << ": " << run.output;
        EXPECT_NE(run.output.find(bad.file + ": "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(bad.expected), std::string::npos) << run.output;
        EXPECT_FALSE(folder.wroteOutput()) << bad.file;
    }
    // The file lists its passes when one is missing.
    EXPECT_NE(
        folder.run(folder.at("lacking.exr"))
            .output.find(
                "the file has: R G B Z, N (X Y Z), diffuse_albedo (R G B), diffuse_direct (R G B)"),
        std::string::npos);

    // An output that cannot be written is found before the work.
    const ProgramRun unwritable = runFiltering("--input " + folder.at("frame.exr") + " --output " +
                                               folder.at("no/such/out.exr"));
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.output.find("can't write " + folder.at("no/such/out.exr")),
              std::string::npos)
        << unwritable.output;
    EXPECT_EQ(unwritable.output.find("Spent"), std::string::npos) << unwritable.output;

    const ProgramRun both =
        runFiltering("--root " + folder.at("") + " --input " + folder.at("frame.exr"));
    EXPECT_EQ(both.status, 2);
    const ProgramRun exrOnly = runFiltering("--root " + folder.at("") + " --camera 1,2,3");
    EXPECT_EQ(exrOnly.status, 2);
    EXPECT_EQ(runFiltering("--input x.exr --camera 1,2").status, 2);
}

TEST(FilteringExrProgram, AnExrFrameGivesWhatItsLayersGive) {
    ExrFolder folder;
    const sample_frame::Scene scene = sample_frame::Scene::room();
    const sample_frame::FrameLayers layers = sample_frame::renderLayers(scene, {40, 28, 2, 5, 0});
    ASSERT_TRUE(
        sample_frame::writeFrame(folder.at("layers"), layers, scene.camera.position, {0.5f, 6.0f}));
    ASSERT_TRUE(imagef4::convertLayersToExr(folder.at("layers"), folder.at("frame.exr")));

    for (const std::string mode : {"", "--quality"}) {
        const ProgramRun fromLayers = runFiltering("--root " + folder.at("layers") + " --output " +
                                                   folder.at("a.imagef4") + " " + mode);
        ASSERT_EQ(fromLayers.status, 0) << fromLayers.output;
        const ProgramRun fromExr = runFiltering("--input " + folder.at("frame.exr") + " --output " +
                                                folder.at("b.imagef4") + " " + mode);
        ASSERT_EQ(fromExr.status, 0) << fromExr.output;
        EXPECT_EQ(readBytes(folder.at("a.imagef4")), readBytes(folder.at("b.imagef4"))) << mode;
    }
    // And back: the layers made from the EXR file are the layers it was made from.
    ASSERT_TRUE(imagef4::convertExrToLayers(folder.at("frame.exr"), folder.at("back"), {}));
    const filtering::FramePaths original(folder.at("layers")), back(folder.at("back"));
    for (int layer = 0; layer < filtering::LayerCount; ++layer) {
        const auto which = static_cast<filtering::Layer>(layer);
        EXPECT_EQ(readBytes(original.layer(which)), readBytes(back.layer(which))) << layer;
    }
    EXPECT_EQ(readBytes(original.camera()), readBytes(back.camera()));
    EXPECT_EQ(readBytes(original.settings()), readBytes(back.settings()));
}
