#pragma once

#include "foundations/base.h"

namespace fixture {
inline int runtime() { return base() + 1; }
}  // namespace fixture
