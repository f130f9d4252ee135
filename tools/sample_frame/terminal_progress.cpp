#include "terminal_progress.h"

#include <unistd.h>

#include <cstdio>

namespace sample_frame {

TerminalProgress::TerminalProgress(std::string label, int rows)
    : label_(std::move(label)), rows_(rows), shown_(isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() {
    if (shown_ && shownPercent_.load() >= 0) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

void TerminalProgress::rowDone() {
    if (!shown_ || rows_ <= 0) {
        return;
    }
    const int percent = (done_.fetch_add(1) + 1) * 100 / rows_;
    int shown = shownPercent_.load();
    // Only the thread that moves the figure on prints it, so each percentage
    // is printed once and never goes backwards.
    while (percent > shown) {
        if (shownPercent_.compare_exchange_weak(shown, percent)) {
            std::fprintf(stderr, "\r%s: %d%%", label_.c_str(), percent);
            std::fflush(stderr);
            return;
        }
    }
}

}  // namespace sample_frame
