#include "scene_catalog.h"

namespace sample_frame {

std::optional<Scene> sceneNamed(std::string_view name) {
    if (name == "room") {
        return Scene::room();
    }
    if (name == "gallery") {
        return Scene::gallery();
    }
    if (name == "yard") {
        return Scene::yard();
    }
    return std::nullopt;
}

}  // namespace sample_frame
