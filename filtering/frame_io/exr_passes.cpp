#include "frame_io/exr_passes.h"

#include <algorithm>
#include <set>

namespace filtering {

namespace {

constexpr std::array<std::string_view, kPassRoleCount> kRoleNames = {
    "primary", "secondary", "texcolor",     "normals",        "positions",   "depth",
    "rest",    "beauty",    "glossydirect", "glossyindirect", "glossycolor", "motion"};

// The components of a three-channel pass, in the order they are stored.
constexpr std::array<std::array<std::string_view, 3>, 4> kComponentSets = {
    {{"R", "G", "B"}, {"X", "Y", "Z"}, {"r", "g", "b"}, {"x", "y", "z"}}};
constexpr std::array<std::string_view, 4> kDepthComponents = {"Z", "V", "R", "Y"};
constexpr std::array<std::array<std::string_view, 4>, 2> kMotionComponentSets = {
    {{"X", "Y", "Z", "W"}, {"x", "y", "z", "w"}}};

struct Scheme {
    std::string_view name;
    // Per role, the pass names to look for, best first; "" is the bare
    // channels of the layer (a beauty's R, G, B, a depth's Z).
    std::array<std::vector<std::string_view>, kPassRoleCount> names;
};

const std::array<Scheme, 2>& schemes() {
    static const std::array<Scheme, 2> all = {{
        {"Cycles multilayer",
         {{{"DiffDir"},
           {"DiffInd"},
           {"DiffCol"},
           {"Normal"},
           {"Position"},
           {"Depth"},
           {},
           {"Combined"},
           {"GlossDir"},
           {"GlossInd"},
           {"GlossCol"},
           {"Vector"}}}},
        {"common AOV",
         {{{CommonPassNames::primary},
           {CommonPassNames::secondary},
           {CommonPassNames::texColor, "albedo"},
           {CommonPassNames::normals},
           {CommonPassNames::positions},
           {CommonPassNames::depth, "depth"},
           {CommonPassNames::rest},
           {"", "RGBA", "beauty"},
           {CommonPassNames::glossyDirect, "glossy_direct"},
           {CommonPassNames::glossyIndirect, "glossy_indirect"},
           {CommonPassNames::glossyColor, "glossy_albedo", "glossy_color"},
           {}}}},
    }};
    return all;
}

bool needsOneChannel(PassRole role) {
    return role == PassRole::Depth;
}

std::string joined(std::string_view prefix, std::string_view name) {
    if (prefix.empty()) return std::string(name);
    if (name.empty()) return std::string(prefix);
    return std::string(prefix) + "." + std::string(name);
}

class ChannelSet {
  public:
    explicit ChannelSet(const std::vector<std::string>& channels)
        : names_(channels.begin(), channels.end()) {}
    bool has(const std::string& name) const { return names_.count(name) != 0; }
    // Whether any channel lies under `pass` ("pass.something").
    bool hasUnder(const std::string& pass) const {
        const std::string start = pass + ".";
        const auto it = names_.lower_bound(start);
        return it != names_.end() && it->compare(0, start.size(), start) == 0;
    }

  private:
    std::set<std::string> names_;
};

// The outcome of looking one pass name up.
struct Lookup {
    std::optional<PassChannels> found;
    bool partial = false;  // channels under the name, but not a whole set
};

Lookup lookUp(const ChannelSet& file, const std::string& pass, PassRole role) {
    Lookup result;
    auto channel = [&](std::string_view component) { return joined(pass, component); };
    if (needsOneChannel(role)) {
        for (std::string_view component : kDepthComponents) {
            if (file.has(channel(component))) {
                result.found = PassChannels{pass, {channel(component)}, {}};
                return result;
            }
        }
        if (!pass.empty() && file.has(pass)) {
            result.found = PassChannels{pass, {pass}, {}};
            return result;
        }
        result.partial = !pass.empty() && file.hasUnder(pass);
        return result;
    }
    if (role == PassRole::Motion) {
        for (const auto& set : kMotionComponentSets) {
            if (std::all_of(set.begin(), set.end(), [&](auto c) { return file.has(channel(c)); })) {
                result.found = PassChannels{
                    pass, {channel(set[0]), channel(set[1]), channel(set[2]), channel(set[3])}, {}};
                return result;
            }
        }
        result.partial = !pass.empty() && file.hasUnder(pass);
        return result;
    }
    for (const auto& set : kComponentSets) {
        if (file.has(channel(set[0])) && file.has(channel(set[1])) && file.has(channel(set[2]))) {
            PassChannels channels{pass, {channel(set[0]), channel(set[1]), channel(set[2])}, {}};
            if (role == PassRole::Beauty) {
                for (std::string_view alpha : {"A", "a"}) {
                    if (file.has(channel(alpha))) channels.alpha = channel(alpha);
                }
            }
            result.found = std::move(channels);
            return result;
        }
    }
    if (pass.empty()) {
        return result;
    }
    result.partial = file.hasUnder(pass);
    return result;
}

bool isRequired(PassRole role) {
    return role == PassRole::Primary || role == PassRole::Secondary || role == PassRole::TexColor ||
           role == PassRole::Normals;
}

// The roles a frame cannot do without, and the pairs of which it needs one.
std::optional<PassRole> firstMissing(const PassLayout& layout) {
    for (int r = 0; r < kPassRoleCount; ++r) {
        const auto role = static_cast<PassRole>(r);
        if (isRequired(role) && !layout[role]) return role;
    }
    if (!layout[PassRole::Positions] && !layout[PassRole::Depth]) return PassRole::Positions;
    if (!layout[PassRole::Rest] && !layout[PassRole::Beauty]) return PassRole::Beauty;
    return std::nullopt;
}

struct Candidate {
    PassLayout layout;
    std::array<bool, kPassRoleCount> partial{};
    std::array<std::vector<std::string>, kPassRoleCount> lookedFor;
    int found = 0;
};

Candidate resolve(const ChannelSet& file, const Scheme& scheme, const std::string& layer,
                  const PassChoice& choice) {
    Candidate candidate;
    candidate.layout.scheme = std::string(scheme.name);
    candidate.layout.layer = layer;
    for (int r = 0; r < kPassRoleCount; ++r) {
        const auto role = static_cast<PassRole>(r);
        std::vector<std::string> passes;
        if (const auto chosen = choice.passes.find(role); chosen != choice.passes.end()) {
            passes = {chosen->second, joined(layer, chosen->second)};
        } else {
            for (std::string_view name : scheme.names[static_cast<size_t>(r)]) {
                passes.push_back(joined(layer, name));
            }
        }
        for (const std::string& pass : passes) {
            candidate.lookedFor[static_cast<size_t>(r)].push_back(pass.empty() ? "R G B" : pass);
            const Lookup lookup = lookUp(file, pass, role);
            candidate.partial[static_cast<size_t>(r)] |= lookup.partial;
            if (lookup.found) {
                candidate.layout.roles[static_cast<size_t>(r)] = lookup.found;
                candidate.found += 1;
                break;
            }
        }
    }
    return candidate;
}

// Every prefix at a dot of every channel name, and the bare layer.
std::vector<std::string> layerPrefixes(const std::vector<std::string>& channels) {
    std::set<std::string> prefixes{""};
    for (const std::string& name : channels) {
        for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1)) {
            prefixes.insert(name.substr(0, dot));
        }
    }
    return {prefixes.begin(), prefixes.end()};
}

std::string describeLookups(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

std::string missingMessage(const Candidate& best, PassRole role,
                           const std::vector<std::string>& channels) {
    const auto r = static_cast<size_t>(role);
    std::string message;
    if (best.partial[r]) {
        message = "the " + std::string(roleName(role)) + " pass has too few channels (needs " +
                  (needsOneChannel(role) ? "one" : "three: R G B or X Y Z") + "); looked for ";
    } else {
        message = "no " + std::string(roleName(role)) + " pass; looked for ";
    }
    message += describeLookups(best.lookedFor[r]);
    if (role == PassRole::Positions) {
        message += ", or a depth pass: " +
                   describeLookups(best.lookedFor[static_cast<size_t>(PassRole::Depth)]);
    }
    if (role == PassRole::Beauty) {
        message += ", or a rest pass: " +
                   describeLookups(best.lookedFor[static_cast<size_t>(PassRole::Rest)]);
    }
    if (!best.layout.scheme.empty()) {
        message += " (" + best.layout.scheme + " names";
        message += best.layout.layer.empty() ? ")" : ", layer " + best.layout.layer + ")";
    }
    return message + "; the file has: " + describePasses(channels);
}

}  // namespace

std::string_view roleName(PassRole role) {
    return kRoleNames[static_cast<size_t>(role)];
}

std::optional<PassRole> roleFromName(std::string_view name) {
    for (int r = 0; r < kPassRoleCount; ++r) {
        if (kRoleNames[static_cast<size_t>(r)] == name) return static_cast<PassRole>(r);
    }
    if (name == "albedo" || name == "texture-colour" || name == "texture-color") {
        return PassRole::TexColor;
    }
    return std::nullopt;
}

std::optional<PassLayout> findPasses(const std::vector<std::string>& channels,
                                     const PassChoice& choice, std::string& error) {
    const ChannelSet file(channels);
    std::vector<std::string> layers;
    if (!choice.layer.empty()) {
        if (!file.hasUnder(choice.layer)) {
            error = "no view layer " + choice.layer + "; the file has: " + describePasses(channels);
            return std::nullopt;
        }
        layers = {choice.layer};
    } else {
        layers = layerPrefixes(channels);
    }
    std::vector<Candidate> whole;
    std::optional<Candidate> best;
    for (const std::string& layer : layers) {
        for (const Scheme& scheme : schemes()) {
            Candidate candidate = resolve(file, scheme, layer, choice);
            if (!firstMissing(candidate.layout)) {
                whole.push_back(std::move(candidate));
                break;
            }
            if (!best || candidate.found > best->found) best = std::move(candidate);
        }
    }
    if (whole.size() == 1) {
        return whole.front().layout;
    }
    if (whole.size() > 1) {
        error = "the file holds a frame in several view layers:";
        for (const Candidate& candidate : whole) {
            error += " " + (candidate.layout.layer.empty() ? "(none)" : candidate.layout.layer);
        }
        error += "; pick one with --layer NAME";
        return std::nullopt;
    }
    error = missingMessage(*best, *firstMissing(best->layout), channels);
    return std::nullopt;
}

std::string describePasses(const std::vector<std::string>& channels) {
    if (channels.empty()) {
        return "no channels";
    }
    // Channels grouped by the pass before their last dot, in file order, the
    // components of each in the order people name them.
    std::vector<std::pair<std::string, std::vector<std::string>>> passes;
    for (const std::string& name : channels) {
        const size_t dot = name.rfind('.');
        const std::string pass = dot == std::string::npos ? "" : name.substr(0, dot);
        const std::string component = dot == std::string::npos ? name : name.substr(dot + 1);
        const auto it = std::find_if(passes.begin(), passes.end(),
                                     [&](const auto& entry) { return entry.first == pass; });
        if (it == passes.end()) {
            passes.push_back({pass, {component}});
        } else {
            it->second.push_back(component);
        }
    }
    constexpr std::string_view kNamedOrder = "RGBAXYZ";
    auto rank = [&](const std::string& component) {
        const size_t at =
            component.size() == 1 ? kNamedOrder.find(component[0]) : std::string::npos;
        return at == std::string::npos ? kNamedOrder.size() : at;
    };
    std::string text;
    for (auto& [pass, components] : passes) {
        std::stable_sort(components.begin(), components.end(),
                         [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
        std::string listed;
        for (const std::string& component : components) {
            listed += (listed.empty() ? "" : " ") + component;
        }
        text += text.empty() ? "" : ", ";
        text += pass.empty() ? listed : pass + " (" + listed + ")";
    }
    return text;
}

}  // namespace filtering
