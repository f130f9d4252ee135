#pragma once

#include <optional>
#include <string_view>

#include "scene.h"

namespace sample_frame {

/// The scene names the tools take, as a usage line spells them.
inline constexpr const char* kSceneNames = "room|gallery|yard";

/// The scene of that name; nothing for an unknown one.
std::optional<Scene> sceneNamed(std::string_view name);

}  // namespace sample_frame
