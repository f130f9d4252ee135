#include "settings_document.h"

namespace quendel {

std::string composeSettingsDocument(const SettingsTable& settings, bool reloadProfile) {
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<telvo_presets>\n";
    for (const auto& [key, value] : settings) {
        document += "<" + key + "> " + value + " </" + key + ">\n";
    }
    document += "<reloadTelvoProfile> ";
    document += reloadProfile ? "1" : "0";
    document += "</reloadTelvoProfile>\n</telvo_presets>\n";
    return document;
}

}  // namespace quendel
