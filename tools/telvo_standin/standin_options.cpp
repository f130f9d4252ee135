#include "standin_options.h"

#include <cstdlib>
#include <string_view>

namespace quendel {

namespace {

bool readCount(const char* text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 0 || parsed > 86400000) return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

const char* standinUsage() {
    return "usage: telvo [SCENE [PROFILE]] [--suffix S] [--log FILE] [--poll-ms N]\n"
           "             [--documents N] [--timeout-ms N] [--request-exitnow]\n";
}

std::optional<StandinOptions> parseStandinOptions(int argc, char** argv, std::string& error) {
    StandinOptions options;
    if (const char* suffix = std::getenv("TELVO_SEGMENT_SUFFIX")) options.segmentSuffix = suffix;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--request-exitnow") {
            options.requestExitNow = true;
        } else if (argument == "--suffix" && hasValue) {
            options.segmentSuffix = argv[++i];
        } else if (argument == "--log" && hasValue) {
            options.logPath = argv[++i];
        } else if (argument == "--poll-ms" && hasValue) {
            if (!readCount(argv[++i], options.pollMilliseconds) || options.pollMilliseconds == 0) {
                error = "--poll-ms needs a positive number";
                return std::nullopt;
            }
        } else if (argument == "--documents" && hasValue) {
            if (!readCount(argv[++i], options.documentLimit)) {
                error = "--documents needs a count";
                return std::nullopt;
            }
        } else if (argument == "--timeout-ms" && hasValue) {
            if (!readCount(argv[++i], options.timeoutMilliseconds)) {
                error = "--timeout-ms needs a number";
                return std::nullopt;
            }
        } else if (argument.starts_with("--")) {
            error = "unknown or incomplete option " + std::string(argument);
            return std::nullopt;
        } else if (positional == 0) {
            options.scene = argument;
            ++positional;
        } else if (positional == 1) {
            options.profile = argument;
            ++positional;
        } else {
            error = "too many arguments";
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace quendel
