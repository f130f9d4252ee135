#include "program/error_capture.h"

#include <utility>

namespace filtering {

ErrorCapture::ErrorCapture(std::function<void()> beforeOutput)
    : previous_(std::cerr.rdbuf()), beforeOutput_(std::move(beforeOutput)) {
    std::cerr.rdbuf(this);
}

ErrorCapture::~ErrorCapture() {
    std::cerr.rdbuf(previous_);
}

std::string ErrorCapture::lastLine() const {
    const std::lock_guard<std::mutex> lock(writing_);
    return line_.empty() ? lastLine_ : line_;
}

void ErrorCapture::keep(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) {
        if (text[i] != '\n') {
            line_ += text[i];
        } else if (!line_.empty()) {
            lastLine_ = std::move(line_);
            line_.clear();
        }
    }
}

int ErrorCapture::overflow(int character) {
    if (traits_type::eq_int_type(character, traits_type::eof())) return sync() == 0 ? 0 : -1;
    const char text = traits_type::to_char_type(character);
    return xsputn(&text, 1) == 1 ? character : traits_type::eof();
}

std::streamsize ErrorCapture::xsputn(const char* text, std::streamsize count) {
    const std::lock_guard<std::mutex> lock(writing_);
    if (beforeOutput_) beforeOutput_();
    keep(text, count);
    return previous_->sputn(text, count);
}

int ErrorCapture::sync() {
    const std::lock_guard<std::mutex> lock(writing_);
    return previous_->pubsync();
}

}  // namespace filtering
