#pragma once

#include <string>

#include "settings_table.h"

namespace quendel {

// The settings document: an XML declaration, the root element, one line per key in the table's
// own order ("<key> value </key>", the value unescaped), the reload flag and the closing root.
std::string composeSettingsDocument(const SettingsTable& settings, bool reloadProfile);

}  // namespace quendel
