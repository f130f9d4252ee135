#pragma once

#include "standin_options.h"

namespace quendel {

// Opens (or creates) the three segments and watches the settings record like a renderer: each
// new document is printed to standard output and acknowledged with the read flag. Returns the
// process status: 0 when the document limit was reached, 1 when the segments cannot be opened,
// 2 on timeout.
int runRendererStandin(const StandinOptions& options);

}  // namespace quendel
