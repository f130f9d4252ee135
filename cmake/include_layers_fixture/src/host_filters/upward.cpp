#include "foundations/base.h"
#include "device_runtime/runtime.h"

namespace fixture {
int upward() { return base() + runtime(); }
}  // namespace fixture
