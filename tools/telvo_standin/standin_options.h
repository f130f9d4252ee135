#pragma once

#include <optional>
#include <string>

namespace quendel {

// How a stand-in run is told what to do. The two positional arguments are the renderer's own
// (scene, profile); the rest steer the stand-in for tests and experiments.
struct StandinOptions {
    std::string scene;
    std::string profile;
    std::string segmentSuffix;  // from --suffix, else TELVO_SEGMENT_SUFFIX, else none
    std::string logPath = "telvo.log";
    int pollMilliseconds = 20;
    int documentLimit = 0;        // end after this many documents; 0: run until killed
    int timeoutMilliseconds = 0;  // give up (status 2) after this long; 0: never
    bool requestExitNow = false;  // after the first document, ask for a fresh one
};

// Parses the command line; an error message instead when it is malformed.
std::optional<StandinOptions> parseStandinOptions(int argc, char** argv, std::string& error);

const char* standinUsage();

}  // namespace quendel
