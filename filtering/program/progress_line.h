#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace filtering {

/// "1 h 02 min", "3 min 07 s", "41.2 s": a duration as a person reads it.
std::string readableDuration(double seconds);

/// The shot's progress on one line of a terminal's standard error, written
/// over in place; silent when standard error is not a terminal.
class ProgressLine {
  public:
    ProgressLine(size_t total, bool onTerminal);

    /// A frame is over; `worked` when it was denoised (or failed) rather
    /// than skipped, so that the rate counts work only.
    void frameDone(bool worked);
    /// Clears the line so that other output starts on an empty line; it is
    /// drawn again at the next frame.
    void makeRoom();
    /// "12 of 100 frames, 2.3 frames/s, 38 s left".
    std::string text() const;
    double elapsedSeconds() const;

  private:
    void draw();

    size_t total_, done_ = 0, worked_ = 0;
    bool onTerminal_, drawn_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    double workSeconds_ = 0.0;
    std::chrono::steady_clock::time_point frameStart_ = start_;
};

}  // namespace filtering
