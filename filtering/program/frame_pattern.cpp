#include "program/frame_pattern.h"

#include <charconv>
#include <climits>
#include <unordered_set>

namespace filtering {

namespace {

// A whole non-negative decimal number that fits an int.
bool parseNumber(std::string_view text, int& value) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return false;
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
    return status == std::errc() && end == text.data() + text.size();
}

struct FrameRange {
    int first = 0, last = 0, step = 1;
};

// One element of a list: "N", "A-B" or "A-BxS".
bool parseRange(std::string_view text, FrameRange& range, std::string& error) {
    const size_t dash = text.find('-');
    const size_t times = text.find('x');
    const bool numbers =
        dash == std::string_view::npos
            ? times == std::string_view::npos && parseNumber(text, range.first)
            : parseNumber(text.substr(0, dash), range.first) &&
                  parseNumber(text.substr(dash + 1, times - dash - 1), range.last) &&
                  (times == std::string_view::npos ||
                   (times > dash && parseNumber(text.substr(times + 1), range.step)));
    if (!numbers) {
        error = "--frames takes A-B, N, A-BxS and comma lists of them (1-5,8,10-20x2); got '" +
                std::string(text) + "'";
        return false;
    }
    if (dash == std::string_view::npos) {
        range.last = range.first;
    } else if (range.last < range.first) {
        error = "--frames: " + std::string(text) + " ends before it starts";
        return false;
    } else if (range.step == 0) {
        error = "--frames: the step of " + std::string(text) + " is 0";
        return false;
    }
    return true;
}

}  // namespace

int hashRuns(std::string_view name) {
    int runs = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '#' && (i == 0 || name[i - 1] != '#')) ++runs;
    }
    return runs;
}

std::string frameName(std::string_view pattern, int frame) {
    const size_t start = pattern.find('#');
    if (start == std::string_view::npos) return std::string(pattern);
    size_t end = start;
    while (end < pattern.size() && pattern[end] == '#') ++end;
    std::string number = std::to_string(frame);
    if (number.size() < end - start) number.insert(0, end - start - number.size(), '0');
    return std::string(pattern.substr(0, start)) + number + std::string(pattern.substr(end));
}

std::optional<std::vector<int>> parseFrameList(std::string_view text, std::string& error) {
    std::vector<int> frames;
    std::unordered_set<int> seen;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        FrameRange range;
        if (!parseRange(text.substr(start, comma - start), range, error)) return std::nullopt;
        // Counted in long long: last + step may pass INT_MAX.
        for (long long frame = range.first; frame <= range.last; frame += range.step) {
            if (seen.insert(static_cast<int>(frame)).second) {
                frames.push_back(static_cast<int>(frame));
            }
            if (frames.size() > kMaxFrames) {
                error = "--frames names more than " + std::to_string(kMaxFrames) + " frames";
                return std::nullopt;
            }
        }
        if (comma == std::string_view::npos) return frames;
        start = comma + 1;
    }
}

}  // namespace filtering
