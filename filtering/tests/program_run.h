#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

// One run of the filtering program, as a user would start it.
struct ProgramRun {
    int status = -1;
    std::string output;  // standard output and standard error together
};

// A shell command's status and its output and error output together.
inline ProgramRun runCommand(const std::string& command) {
    ProgramRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 4096> buffer{};
    size_t count = 0;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), count);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline ProgramRun runFiltering(const std::string& arguments) {
    return runCommand(std::string(FILTERING_BINARY) + " " + arguments);
}
