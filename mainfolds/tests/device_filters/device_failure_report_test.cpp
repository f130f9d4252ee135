// Reports of failed device calls, through errors injected into the
// emulator: exact text, line number of each operation, the state left
// behind, and the pause for a key that only an interactive terminal gets.

#include "device_runtime/device_failure_report.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "device_runtime/device_emulator.h"
#include "quendel/gpu_matrix.h"
#include "quendel/gpu_texture.h"

using quendel::GpuMatrix;
using quendel::GpuTexture;
using quendel::device::emulator;
using quendel::device::Emulator;

namespace {

/// Puts `descriptor` in place of standard input for the scope.
class StandardInputFrom {
  public:
    explicit StandardInputFrom(int descriptor) : saved(dup(STDIN_FILENO)) {
        __fpurge(stdin);
        clearerr(stdin);
        dup2(descriptor, STDIN_FILENO);
        close(descriptor);
    }
    ~StandardInputFrom() {
        __fpurge(stdin);
        clearerr(stdin);
        dup2(saved, STDIN_FILENO);
        close(saved);
    }

  private:
    int saved;
};

/// A pipe whose only content is `text`, its writing end closed.
int pipeHolding(const char* text) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    EXPECT_EQ(write(ends[1], text, std::char_traits<char>::length(text)),
              static_cast<ssize_t>(std::char_traits<char>::length(text)));
    close(ends[1]);
    return ends[0];
}

class FailureReports : public testing::Test {
  protected:
    void SetUp() override {
        quendel::forceDeviceEmulator(true);
        emulator().resetCounters();
    }
    void TearDown() override {
        emulator().failNextCalls(0, Emulator::invalidValue);
        quendel::forceDeviceEmulator(false);
    }

    /// What `operation` writes to stderr, with a quiet standard input.
    std::string reportOf(const std::function<void()>& operation) {
        StandardInputFrom quiet(open("/dev/null", O_RDONLY));
        testing::internal::CaptureStderr();
        operation();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(FailureReports, TextureOperationsReportTheirOwnLines) {
    const float data[] = {1, 2, 3, 4};
    GpuTexture texture(data, 2, 2, 1, true);

    emulator().failNextCalls(1, Emulator::outOfMemory);
    bool result = true;
    EXPECT_EQ(reportOf([&] { result = texture.allocateDevice(); }),
              "Failed at line 34 (error code out of memory)!\n");
    EXPECT_FALSE(result);
    EXPECT_EQ(texture.getDeviceData(), nullptr);

    ASSERT_TRUE(texture.allocateDevice());
    struct Case {
        std::function<bool()> operation;
        const char* report;
    };
    const Case cases[] = {
        {[&] { return texture.clearDevice(); },
         "Failed at line 43 (error code invalid argument)!\n"},
        {[&] { return texture.uploadChannel(0); },
         "Failed at line 63 (error code invalid argument)!\n"},
        {[&] { return texture.downloadChannel(0); },
         "Failed at line 73 (error code invalid argument)!\n"},
    };
    for (const Case& c : cases) {
        emulator().failNextCalls(1, Emulator::invalidValue);
        EXPECT_EQ(reportOf([&] { result = c.operation(); }), c.report);
        EXPECT_FALSE(result) << c.report;
    }
    EXPECT_NE(texture.getDeviceData(), nullptr);
    EXPECT_EQ(texture.getChannel(0)[3], 4.0f);  // the failed download wrote nothing
}

TEST_F(FailureReports, MatrixOperationsReportTheirOwnLines) {
    const float data[] = {1, 2};
    GpuMatrix matrix(GpuTexture(data, 2, 1, 1, true));
    bool result = true;

    emulator().failNextCalls(1, Emulator::outOfMemory);
    EXPECT_EQ(reportOf([&] { result = matrix.allocateDevice(); }),
              "Failed at line 112 (error code out of memory)!\n");
    EXPECT_FALSE(result);

    ASSERT_TRUE(matrix.allocateDevice());
    emulator().failNextCalls(1, Emulator::launchFailure);
    EXPECT_EQ(reportOf([&] { result = matrix.upload(); }),
              "Failed at line 141 (error code kernel launch failed)!\n");
    EXPECT_FALSE(result);
    emulator().failNextCalls(1, Emulator::invalidDevicePointer);
    EXPECT_EQ(reportOf([&] { result = matrix.download(); }),
              "Failed at line 150 (error code invalid device pointer)!\n");
    EXPECT_FALSE(result);
    EXPECT_EQ(matrix.getData()[1], 2.0f);
}

TEST_F(FailureReports, TheFailedCallIsMadeOnceAndTheNextOneSucceeds) {
    GpuTexture texture(nullptr, 2, 2, 1, true);
    const auto reportsBefore = quendel::device::reportedDeviceFailures();
    emulator().failNextCalls(1, Emulator::outOfMemory);
    reportOf([&] { texture.allocateDevice(); });
    EXPECT_EQ(emulator().counters().allocations, 1);
    EXPECT_TRUE(texture.allocateDevice());
    EXPECT_EQ(emulator().counters().allocations, 2);
    EXPECT_EQ(quendel::device::reportedDeviceFailures(), reportsBefore + 1);
}

TEST_F(FailureReports, MinusKeepsTheMatrixWhenStagingFails) {
    const float left[] = {5, 7}, right[] = {2, 3};
    GpuMatrix a(GpuTexture(left, 2, 1, 1, true));
    const GpuMatrix b(GpuTexture(right, 2, 1, 1, true));
    const std::size_t buffersBefore = emulator().liveBuffers();

    // Both allocations and the upload of `a` pass; the upload of `b` fails.
    emulator().failNextCalls(1, Emulator::invalidValue, 3);
    EXPECT_EQ(reportOf([&] { a.minus(b); }), "Failed at line 141 (error code invalid argument)!\n");
    EXPECT_EQ(std::vector<float>(a.getData(), a.getData() + 2), (std::vector<float>{5, 7}));
    EXPECT_EQ(emulator().counters().launches, 0);
    EXPECT_EQ(emulator().counters().copiesToHost, 0);

    // A failed allocation is reported once; the other steps still run.
    emulator().failNextCalls(1, Emulator::outOfMemory);
    EXPECT_EQ(reportOf([&] { a.minus(b); }), "Failed at line 112 (error code out of memory)!\n");
    EXPECT_EQ(std::vector<float>(a.getData(), a.getData() + 2), (std::vector<float>{5, 7}));
    EXPECT_EQ(a.getDeviceData(), nullptr);
    EXPECT_EQ(emulator().liveBuffers(), buffersBefore);

    a.minus(b);
    EXPECT_EQ(std::vector<float>(a.getData(), a.getData() + 2), (std::vector<float>{3, 4}));
}

TEST_F(FailureReports, BatchRunsAreNeverHeldForAKey) {
    GpuTexture texture(nullptr, 2, 1, 1, true);
    StandardInputFrom piped(pipeHolding("x"));
    emulator().failNextCalls(1, Emulator::outOfMemory);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(texture.allocateDevice());
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(quendel::device::standardInputIsTerminal());
    EXPECT_EQ(std::getchar(), 'x') << "the report read from a pipe";
}

TEST_F(FailureReports, AnInteractiveTerminalIsHeldForOneKey) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        GTEST_SKIP() << "no pseudo-terminal here";
    }
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(write(master, "yz\n", 3), 3);

    GpuTexture texture(nullptr, 2, 1, 1, true);
    {
        StandardInputFrom typed(terminal);
        EXPECT_TRUE(quendel::device::standardInputIsTerminal());
        emulator().failNextCalls(1, Emulator::outOfMemory);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(texture.allocateDevice());
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Failed at line 34 (error code out of memory)!\n");
        EXPECT_EQ(std::getchar(), 'z') << "the report should have taken exactly one key";
    }
    close(master);
}

}  // namespace
