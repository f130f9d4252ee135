#pragma once

#include <QString>
#include <string>

namespace quendel {

// Name of the presets file, written into the panel's working directory.
inline constexpr const char* kPresetsFileName = "presets.xml";

// Writes the settings document to a text file, replacing what was there. Returns false when the
// file cannot be opened (an existing file is then left untouched) or not written in full.
bool writePresetsFile(const QString& path, const std::string& document);

}  // namespace quendel
