#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace filtering {

/// How many separate runs of '#' a name holds; a frame pattern holds one.
int hashRuns(std::string_view name);

/// The name with its run of '#' replaced by the frame number, zero-padded to
/// the run's width (a wider number is written in full). A name without '#'
/// is returned as it is.
std::string frameName(std::string_view pattern, int frame);

/// The frames of a --frames value: "A-B", "N", "A-BxS" and comma lists of
/// them, in the order given, each frame once. Nothing, with `error` set, on
/// a malformed value.
std::optional<std::vector<int>> parseFrameList(std::string_view text, std::string& error);

/// The most frames one run takes, so that a mistyped range cannot ask for
/// more memory than the list of frames may take.
inline constexpr size_t kMaxFrames = 1000000;

}  // namespace filtering
