// Shots: a range of frames denoised in one run, frames that fail left to
// fail alone, whole outputs skipped, and the render-farm scripts.
#include <ImfInputFile.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "exr_fixture.h"
#include "frame_conversion.h"
#include "frame_io/frame_paths.h"
#include "frame_io/layer_files.h"
#include "program_run.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

float ramp(int x, int y, int k) {
    return 0.1f + 0.01f * float(x + 3 * y + k);
}

// A tiny frame with the common pass names and a depth pass.
void writeDepthFrame(const fs::path& path) {
    ExrFixture fixture;
    addPass(fixture, "", ramp);
    for (const char* pass : {"diffuse_direct", "diffuse_indirect", "diffuse_albedo"}) {
        addPass(fixture, pass, ramp);
    }
    addPass(
        fixture, "N", [](int, int, int k) { return k == 2 ? 1.0f : 0.0f; }, "XYZ");
    fixture.channels.push_back({"Z", [](int x, int y) { return 3.0f + 0.1f * float(x + y); }});
    fixture.write(path.string());
}

void cutInHalf(const fs::path& path) {
    fs::resize_file(path, fs::file_size(path) / 2);
}

bool exrWhole(const fs::path& path) {
    try {
        return Imf::InputFile(path.string().c_str()).isComplete();
    } catch (const std::exception&) {
        return false;
    }
}

// A shot of frames 1..count as in/render.NNNN.exr, written to out/.
class Shot : public TemporaryFolder {
  public:
    explicit Shot(int count) {
        fs::create_directories(path() / "in");
        fs::create_directories(path() / "out");
        for (int frame = 1; frame <= count; ++frame) writeDepthFrame(input(frame));
    }
    fs::path input(int frame) const { return path() / "in" / numbered("render", frame, ".exr"); }
    fs::path output(int frame, const char* ending = ".exr") const {
        return path() / "out" / numbered("denoised", frame, ending);
    }
    std::string options(const char* ending = ".exr") const {
        return "--input '" + (path() / "in/render.####.exr").string() + "' --output '" +
               (path() / "out/denoised.####").string() + ending + "'";
    }

  private:
    static std::string numbered(const char* stem, int frame, const char* ending) {
        char name[64];
        std::snprintf(name, sizeof name, "%s.%04d%s", stem, frame, ending);
        return name;
    }
};

bool haveProgram(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string script(const char* name) {
    return std::string("FILTERING=") + FILTERING_BINARY + " " + QUENDEL_SOURCE_DIR + "/scripts/" +
           name;
}

}  // namespace

TEST(FrameSequence, ABrokenFrameFailsAloneAndIsListed) {
    const Shot shot(4);
    writeText(shot.input(2), "not an image\n");
    const ProgramRun run = runFiltering(shot.options() + " --frames 1-4");
    EXPECT_EQ(run.status, 1) << run.output;
    for (int frame : {1, 3, 4}) EXPECT_TRUE(exrWhole(shot.output(frame))) << frame;
    EXPECT_FALSE(fs::exists(shot.output(2)));
    const size_t list = run.output.find("filtering: failed frames:\n  frame 2: filtering: ");
    ASSERT_NE(list, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("render.0002.exr: is not a readable OpenEXR file", list),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("frame 1:", list), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("filtering: 3 of 4 frames written, 1 failed (in "), std::string::npos)
        << run.output;
    // Into a pipe: no progress line.
    EXPECT_EQ(run.output.find('\r'), std::string::npos);
    // Names with a frame number but no frames: refused as a bad command line.
    EXPECT_EQ(runFiltering(shot.options()).status, 2);
}

TEST(FrameSequence, SkipsWholeOutputsAndRedoesCutOnes) {
    for (const char* ending : {".exr", ".imagef4"}) {
        const Shot shot(3);
        const ProgramRun first = runFiltering(shot.options(ending) + " --frames 1-3");
        ASSERT_EQ(first.status, 0) << first.output;
        const std::vector<char> whole = readBytes(shot.output(2, ending));
        cutInHalf(shot.output(2, ending));
        fs::remove(shot.output(3, ending));
        // A time no run of today can give: a rewrite would change it.
        const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
        fs::last_write_time(shot.output(1, ending), old);

        const ProgramRun again =
            runFiltering(shot.options(ending) + " --frames 1-3 --skip-existing");
        EXPECT_EQ(again.status, 0) << again.output;
        EXPECT_EQ(fs::last_write_time(shot.output(1, ending)), old) << ending;
        EXPECT_EQ(readBytes(shot.output(2, ending)), whole) << ending;
        EXPECT_TRUE(fs::exists(shot.output(3, ending))) << ending;
        EXPECT_NE(again.output.find("2 of 3 frames written, 1 skipped as already whole, 0 failed"),
                  std::string::npos)
            << again.output;
        // A one-frame run skips alike.
        const std::string one = "--input " + shot.input(1).string() + " --output " +
                                shot.output(1, ending).string() + " --skip-existing";
        const ProgramRun single = runFiltering(one);
        EXPECT_EQ(single.status, 0) << single.output;
        EXPECT_NE(single.output.find("is already whole; skipped"), std::string::npos);
        EXPECT_EQ(fs::last_write_time(shot.output(1, ending)), old) << ending;
    }
}

TEST(FrameSequence, FrameFoldersAsRoots) {
    const Shot shot(3);
    auto root = [&](int frame) { return shot.path() / ("f0" + std::to_string(frame)); };
    for (int frame : {1, 2, 3}) {
        ASSERT_TRUE(
            imagef4::convertExrToLayers(shot.input(frame).string(), root(frame).string(), {}));
    }
    const fs::path lost = filtering::FramePaths(root(3).string()).layer(filtering::Normals);
    fs::remove(lost);
    const ProgramRun run =
        runFiltering("--root '" + (shot.path() / "f##").string() + "' --frames 1-3");
    EXPECT_EQ(run.status, 1) << run.output;
    for (int frame : {1, 2}) {
        cv::Size size;
        EXPECT_TRUE(
            filtering::readLayerSize(filtering::FramePaths(root(frame).string()).output(), size));
        EXPECT_EQ(size, cv::Size(8, 6));
    }
    EXPECT_FALSE(fs::exists(filtering::FramePaths(root(3).string()).output()));
    const size_t list = run.output.find("failed frames:\n  frame 3: ");
    ASSERT_NE(list, std::string::npos) << run.output;
    EXPECT_NE(run.output.find(lost.string(), list), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("2 of 3 frames written, 1 failed"), std::string::npos) << run.output;
}

TEST(FrameSequence, ProgressIsDrawnInPlaceOnATerminal) {
    if (!haveProgram("script")) GTEST_SKIP() << "script (util-linux) is not installed";
    const Shot shot(2);
    // script runs the program on a terminal of its own and copies what it shows.
    const ProgramRun run = runCommand("script -qec \"" + std::string(FILTERING_BINARY) + " " +
                                      shot.options() + " --frames 1-2\" /dev/null");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("\rfiltering: 1 of 2 frames, "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(" frames/s, "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("filtering: 2 of 2 frames written, 0 failed"), std::string::npos)
        << run.output;
}

TEST(FarmScripts, ParallelChunksSkipWholeFramesAndReportFailures) {
    if (!haveProgram("parallel")) GTEST_SKIP() << "GNU parallel is not installed (scripts/setup)";
    const Shot shot(5);
    const std::string farm =
        script("farm-parallel") + " -j 2 --chunk 2 --frames 1-5 -- " + shot.options();
    const ProgramRun run = runCommand(farm);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("5 frames in 3 chunks"), std::string::npos) << run.output;
    for (int frame = 1; frame <= 5; ++frame) EXPECT_TRUE(exrWhole(shot.output(frame))) << frame;

    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(shot.output(1), old);
    fs::remove(shot.output(4));
    writeText(shot.input(4), "not an image\n");
    const ProgramRun broken = runCommand(farm);
    EXPECT_EQ(broken.status, 1) << broken.output;
    EXPECT_NE(broken.output.find("  frame 4: "), std::string::npos) << broken.output;
    EXPECT_NE(broken.output.find("1 of 3 chunks failed"), std::string::npos) << broken.output;
    EXPECT_EQ(fs::last_write_time(shot.output(1)), old);

    EXPECT_EQ(runCommand(script("farm-parallel") + " --frames 5-1 -- " + shot.options()).status, 2);
}

TEST(FarmScripts, SlurmTasksTakeTheirOwnChunk) {
    const Shot shot(5);
    auto task = [&](int id) {
        return runCommand("SLURM_ARRAY_TASK_ID=" + std::to_string(id) + " FIRST=1 LAST=5 CHUNK=2 " +
                          script("farm-slurm.sbatch") + " " + shot.options());
    };
    const ProgramRun second = task(1);
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_FALSE(fs::exists(shot.output(2)));
    EXPECT_TRUE(exrWhole(shot.output(3)));
    EXPECT_TRUE(exrWhole(shot.output(4)));
    EXPECT_FALSE(fs::exists(shot.output(5)));
    const ProgramRun last = task(2);
    EXPECT_EQ(last.status, 0) << last.output;
    EXPECT_TRUE(exrWhole(shot.output(5)));
    EXPECT_NE(last.output.find("1 of 1 frames written"), std::string::npos) << last.output;
    const ProgramRun beyond = task(3);
    EXPECT_EQ(beyond.status, 0) << beyond.output;
    EXPECT_NE(beyond.output.find("task 3 has no frames"), std::string::npos) << beyond.output;
}
