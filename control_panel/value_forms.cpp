#include "value_forms.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace quendel {

namespace {

template <typename Real>
std::string streamed(Real value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

}  // namespace

std::string flagForm(bool value) {
    return value ? "1" : "0";
}

std::string integerForm(long long value) {
    return std::to_string(value);
}

std::string streamRealForm(float value) {
    return streamed(value);
}

std::string streamRealForm(double value) {
    return streamed(value);
}

std::string fixedSixForm(double value) {
    const int length = std::snprintf(nullptr, 0, "%f", value);
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, "%f", value);
    return text;
}

int textToInt(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

double textToDouble(const std::string& text) {
    const double value = std::strtod(text.c_str(), nullptr);
    return std::isnan(value) ? 0.0 : value;
}

int truncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

}  // namespace quendel
