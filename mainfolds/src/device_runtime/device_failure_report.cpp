#include "device_runtime/device_failure_report.h"

#include <atomic>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quendel::device {

namespace {
std::atomic<unsigned long long> failuresReported{0};
}  // namespace

unsigned long long reportedDeviceFailures() {
    return failuresReported.load();
}

bool standardInputIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(fileno(stdin)) != 0;
#endif
}

bool checkDeviceCall(Status status, int line) {
    if (status.ok()) {
        return true;
    }
    failuresReported.fetch_add(1);
    std::fprintf(stderr, "Failed at line %d (error code %s)!\n", line,
                 activeRuntime().describe(status));
    if (standardInputIsTerminal()) {
        std::getchar();
    }
    return false;
}

}  // namespace quendel::device
