#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace filtering {

/// What a pass of a multilayer frame is to the denoiser.
/// The glossy passes are optional: the quality mode filters glossy light as
/// a layer of its own when a frame has all three. So is the motion (Cycles'
/// vector pass: X, Y the motion from the previous frame, Z, W to the next,
/// in pixels with y up), which places each point in the neighbouring frames.
enum class PassRole {
    Primary,
    Secondary,
    TexColor,
    Normals,
    Positions,
    Depth,
    Rest,
    Beauty,
    GlossyDirect,
    GlossyIndirect,
    GlossyColor,
    Motion
};
inline constexpr int kPassRoleCount = 12;

/// The role's name on the command line (`--pass texcolor=...`) and in messages.
std::string_view roleName(PassRole role);
std::optional<PassRole> roleFromName(std::string_view name);

/// The channels one role is read from: three (first, second, third
/// component: red, green, blue or x, y, z), four for the motion (x, y, z,
/// w) or, for the depth, one; the beauty's alpha when it has one.
struct PassChannels {
    std::string pass;  // as the user names it: "ViewLayer.DiffDir", "N", "RGBA"
    std::vector<std::string> channels;
    std::string alpha;  // beauty only; empty when the file has none
};

/// Where each role of a frame is read from; a role the file does not hold is
/// empty. `scheme` names the naming scheme that matched.
struct PassLayout {
    std::string scheme;
    std::string layer;  // the view layer prefix, without its dot; may be empty
    std::array<std::optional<PassChannels>, kPassRoleCount> roles;

    const std::optional<PassChannels>& operator[](PassRole role) const {
        return roles[static_cast<size_t>(role)];
    }
};

/// What the user asked for: a view layer and passes named by hand.
struct PassChoice {
    std::string layer;
    std::map<PassRole, std::string> passes;
};

/// Finds the frame's passes among `channels` (every channel name of the
/// file): by the multilayer names of Cycles ("<layer>.DiffDir.R", ...) or by
/// the common AOV names ("diffuse_direct.R", "N.X", "Z", beauty "R", "G",
/// "B", "A"), in the view layer `choice.layer` or, when that is empty, in the
/// one layer that holds a whole frame. Roles named in `choice.passes` are
/// looked up by that name (alone, then inside the layer) instead.
/// A frame needs the primary and secondary light, the texture colour, the
/// normals, the positions or the depth, and the rest or the beauty. Nothing
/// and a message saying what is missing (the role, the names looked for, the
/// passes the file has) when no layer holds them.
std::optional<PassLayout> findPasses(const std::vector<std::string>& channels,
                                     const PassChoice& choice, std::string& error);

/// The passes of a channel list for messages: "ViewLayer.Combined (R G B A), Z".
std::string describePasses(const std::vector<std::string>& channels);

/// The names the converter writes and the AOV scheme reads.
struct CommonPassNames {
    static constexpr std::string_view primary = "diffuse_direct";
    static constexpr std::string_view secondary = "diffuse_indirect";
    static constexpr std::string_view texColor = "diffuse_albedo";
    static constexpr std::string_view normals = "N";
    static constexpr std::string_view positions = "P";
    static constexpr std::string_view depth = "Z";
    static constexpr std::string_view rest = "rest";
    static constexpr std::string_view texCoord = "uv";
    static constexpr std::string_view glossyDirect = "specular_direct";
    static constexpr std::string_view glossyIndirect = "specular_indirect";
    static constexpr std::string_view glossyColor = "specular_albedo";
};

}  // namespace filtering
