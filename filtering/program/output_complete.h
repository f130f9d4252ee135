#pragma once

#include <string>

namespace filtering {

/// Whether a whole output is already at `path`: an OpenEXR file that opens
/// and holds every pixel, or an `.imagef4` file whose header matches its
/// length. Silent: a missing, cut or damaged file is simply not whole.
bool outputComplete(const std::string& path, bool exr);

}  // namespace filtering
