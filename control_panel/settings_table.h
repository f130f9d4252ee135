#pragma once

#include <string>
#include <unordered_map>

namespace quendel {

// Every parameter the panel hands to the renderer, as text, by key. Reading a missing key with
// operator[] inserts it empty, which is what every reader here relies on.
using SettingsTable = std::unordered_map<std::string, std::string>;

}  // namespace quendel
