#pragma once

namespace fixture {
inline int base() { return 1; }
}  // namespace fixture
