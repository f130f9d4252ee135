// Frame numbers in names and the --frames lists of a shot, and the options
// that refuse a shot's names before any frame is read.
#include "program/frame_pattern.h"

#include <gtest/gtest.h>

#include "program/frame_job.h"
#include "program/program_options.h"

namespace {

using filtering::frameName;
using filtering::parseFrameList;

std::vector<int> frames(const std::string& text) {
    std::string error;
    const auto list = parseFrameList(text, error);
    EXPECT_TRUE(list) << text << ": " << error;
    return list.value_or(std::vector<int>{});
}

std::string listError(const std::string& text) {
    std::string error;
    EXPECT_FALSE(parseFrameList(text, error)) << text;
    return error;
}

std::string optionError(const std::vector<std::string>& arguments) {
    std::string error;
    EXPECT_FALSE(filtering::parseOptions(arguments, error));
    return error;
}

}  // namespace

TEST(FramePattern, NumbersArePaddedToTheRunOfHashes) {
    EXPECT_EQ(frameName("shot/render.####.exr", 7), "shot/render.0007.exr");
    EXPECT_EQ(frameName("shot/render.####.exr", 1001), "shot/render.1001.exr");
    EXPECT_EQ(frameName("shot/render.##.exr", 12345), "shot/render.12345.exr");
    EXPECT_EQ(frameName("f#/x", 0), "f0/x");
    EXPECT_EQ(frameName("render.exr", 3), "render.exr");
    EXPECT_EQ(filtering::hashRuns("a##b###c"), 2);
    EXPECT_EQ(filtering::hashRuns("####"), 1);
    EXPECT_EQ(filtering::hashRuns("plain"), 0);
}

TEST(FramePattern, ReadsRangesListsAndSteps) {
    EXPECT_EQ(frames("1001-1004"), (std::vector<int>{1001, 1002, 1003, 1004}));
    EXPECT_EQ(frames("42"), (std::vector<int>{42}));
    EXPECT_EQ(frames("1-3,8,10-12"), (std::vector<int>{1, 2, 3, 8, 10, 11, 12}));
    EXPECT_EQ(frames("1-10x3"), (std::vector<int>{1, 4, 7, 10}));
    EXPECT_EQ(frames("1-8x4"), (std::vector<int>{1, 5}));
    // In the order given, each frame once.
    EXPECT_EQ(frames("9,1-3,2"), (std::vector<int>{9, 1, 2, 3}));
    EXPECT_EQ(frames("2147483646-2147483647"), (std::vector<int>{2147483646, 2147483647}));
}

TEST(FramePattern, RefusesMalformedLists) {
    for (const char* text : {"", "a-b", "1-", "-3", "1--5", "1-5,", ",1", "1-5x", "5x2", "1-5x-1",
                             "1.5", "+3", "99999999999"}) {
        EXPECT_NE(listError(text).find("--frames takes A-B, N, A-BxS"), std::string::npos) << text;
    }
    EXPECT_NE(listError("10-5").find("10-5 ends before it starts"), std::string::npos);
    EXPECT_NE(listError("1-5x0").find("step of 1-5x0 is 0"), std::string::npos);
    EXPECT_NE(listError("1-2000000").find("more than 1000000 frames"), std::string::npos);
}

TEST(FramePattern, ShotNamesMustAgreeWithTheFrames) {
    EXPECT_NE(optionError({"--input", "r.####.exr"}).find("no --frames says which frames"),
              std::string::npos);
    EXPECT_NE(optionError({"--input", "r.exr", "--output", "o.####.exr"}).find("no --frames"),
              std::string::npos);
    EXPECT_NE(optionError({"--input", "r.exr", "--frames", "1-3"})
                  .find("run of # for the frame "
                        "number in --input"),
              std::string::npos);
    EXPECT_NE(optionError({"--frames", "1-3"}).find("in --root"), std::string::npos);
    EXPECT_NE(optionError({"--input", "r.##.##.exr", "--frames", "1-2"}).find("2 separate runs"),
              std::string::npos);
    EXPECT_NE(optionError({"--input", "r.#.exr", "--frames", "1-2", "--output", "o.exr"})
                  .find("--output 'o.exr' has no run of #"),
              std::string::npos);
    EXPECT_NE(optionError({"--input", "r.#.exr", "--frames", "1,2", "--preview", "p.png"})
                  .find("--preview 'p.png'"),
              std::string::npos);
    EXPECT_NE(optionError({"--input", "r.#.exr", "--frames", "3-1"}).find("ends before"),
              std::string::npos);
    std::string error;
    // One frame may go to one fixed name.
    EXPECT_TRUE(filtering::parseOptions(
        {"--input", "r.#.exr", "--frames", "5", "--output", "o.exr"}, error))
        << error;
}

TEST(FramePattern, EachFrameOfAShotGetsItsOwnNames) {
    std::string error;
    const auto exr = filtering::parseOptions(
        {"--input", "shot/r.####.exr", "--frames", "1-2", "--preview", "p/#.png"}, error);
    ASSERT_TRUE(exr) << error;
    const filtering::FrameJob second = filtering::frameJob(*exr, 2);
    EXPECT_EQ(second.input, "shot/r.0002.exr");
    EXPECT_EQ(second.output, "shot/r.0002.denoised.exr");
    EXPECT_EQ(second.preview, "p/2.png");

    const auto layers = filtering::parseOptions({"--root", "shot/f###", "--frames", "7"}, error);
    ASSERT_TRUE(layers) << error;
    const filtering::FrameJob seventh = filtering::frameJob(*layers, 7);
    EXPECT_EQ(seventh.root, "shot/f007");
    EXPECT_EQ(seventh.output, "shot/f007/filter/output.imagef4");
    EXPECT_FALSE(seventh.writesExr());
}
