#pragma once

#include <array>
#include <string>
#include <string_view>

namespace filtering {

/// The root every input and output path hangs from.
#ifdef _WIN32
inline constexpr std::string_view kDefaultRoot = "C:/[TELVO]/";
#else
inline constexpr std::string_view kDefaultRoot = "[TELVO]/";
#endif

/// The seven render layers in the order they are loaded.
enum Layer { Primary, Secondary, TexColor, Normals, Positions, TexCoord, Rest, LayerCount };

inline constexpr std::array<std::string_view, LayerCount> kLayerFileNames = {
    "layer_0_5_primary_diffuse.imagef4", "layer_0_6_secondary_diffuse.imagef4",
    "layer_0_3_texcolor.imagef4",        "layer_0_2_normals.imagef4",
    "layer_0_1_positions.imagef4",       "layer_0_4_texcoord.imagef4",
    "layer_0_7_color_the_rest.imagef4",
};

/// Every path of one frame; each is the root followed by a fixed relative part.
struct FramePaths {
    explicit FramePaths(std::string rootFolder) : root(std::move(rootFolder)) {
        if (!root.empty() && root.back() != '/') {
            root += '/';
        }
    }
    std::string inputFolder() const { return root + "filter/input_bin/"; }
    std::string layer(Layer layer) const {
        return inputFolder() + std::string(kLayerFileNames[layer]);
    }
    std::string camera() const { return root + "filter/camera.txt"; }
    std::string settings() const { return root + "filter/settings.txt"; }
    std::string output() const { return root + "filter/output.imagef4"; }

    std::string root;
};

}  // namespace filtering
