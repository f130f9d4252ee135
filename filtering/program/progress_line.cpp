#include "program/progress_line.h"

#include <cmath>
#include <cstdio>

namespace filtering {

std::string readableDuration(double seconds) {
    char text[48];
    const long whole = std::lround(seconds);
    if (seconds < 60.0) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (whole < 3600) {
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole / 60 % 60);
    }
    return text;
}

ProgressLine::ProgressLine(size_t total, bool onTerminal) : total_(total), onTerminal_(onTerminal) {
    draw();
}

double ProgressLine::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void ProgressLine::frameDone(bool worked) {
    const auto now = std::chrono::steady_clock::now();
    if (worked) {
        ++worked_;
        workSeconds_ += std::chrono::duration<double>(now - frameStart_).count();
    }
    frameStart_ = now;
    ++done_;
    draw();
}

std::string ProgressLine::text() const {
    std::string line = std::to_string(done_) + " of " + std::to_string(total_) + " frames";
    if (worked_ > 0 && workSeconds_ > 0.0) {
        const double rate = double(worked_) / workSeconds_;
        char figures[64];
        std::snprintf(figures, sizeof figures,
                      rate >= 10.0 ? ", %.0f frames/s, " : ", %.2g frames/s, ", rate);
        line += figures + readableDuration(double(total_ - done_) / rate) + " left";
    }
    return line;
}

void ProgressLine::draw() {
    if (!onTerminal_) return;
    // Carriage return, the line, then erase whatever a longer line left.
    std::fprintf(stderr, "\rfiltering: %s\033[K", text().c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::makeRoom() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace filtering
