#pragma once

#include <functional>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>

namespace filtering {

/// While it lives, what is written to std::cerr still goes there, and its
/// lines are kept too, so that a frame's failure can be named afterwards.
class ErrorCapture : private std::streambuf {
  public:
    /// `beforeOutput` is called before each write, so that a progress line
    /// can make room for the message.
    explicit ErrorCapture(std::function<void()> beforeOutput);
    ~ErrorCapture() override;
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    /// The last complete (or unfinished) line written: the failure, since
    /// notes such as a fitted camera come before it and a failure ends the work.
    std::string lastLine() const;

  private:
    int overflow(int character) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;
    void keep(const char* text, std::streamsize count);

    std::streambuf* previous_;
    std::function<void()> beforeOutput_;
    std::string line_, lastLine_;
    // Loaders report from the threads that read a frame's files.
    mutable std::mutex writing_;
};

}  // namespace filtering
