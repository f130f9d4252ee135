#pragma once

#include <optional>
#include <string_view>

#include "scene.h"

namespace sample_frame {

/// How a shot moves: the camera along a short path (`Dolly`) or not at all
/// (`Static`); the checkered ball rolls in both.
enum class Motion { Dolly, Static };

/// "dolly" or "static"; nothing for any other name.
std::optional<Motion> parseMotion(std::string_view name);

/// The sphere that rolls: the checkered ball of every scene.
inline constexpr int kRollingSphere = 0;

/// The scene at frame `frame` of a shot that starts, at frame 1, from
/// `still`. The ball rolls back and forth along x on the floor; with `Dolly`
/// the camera sways sideways and moves in along a short path, still looking
/// at the same point. Both go back and forth smoothly, each frame at most a
/// few hundredths of a unit from the last, so that a shot of any length
/// stays inside the room.
Scene sceneAtFrame(const Scene& still, int frame, Motion motion);

}  // namespace sample_frame
