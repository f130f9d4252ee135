#pragma once

#include <atomic>
#include <string>

namespace sample_frame {

/// A one-line percentage on standard error while a render runs, kept up to
/// date in place and wiped at the end. Says nothing when standard error is
/// not a terminal, so logs and pipes see only the program's usual lines.
/// `rowDone` may be called from any thread.
class TerminalProgress {
  public:
    TerminalProgress(std::string label, int rows);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void rowDone();

  private:
    const std::string label_;
    const int rows_;
    const bool shown_;
    std::atomic<int> done_{0};
    std::atomic<int> shownPercent_{-1};
};

}  // namespace sample_frame
