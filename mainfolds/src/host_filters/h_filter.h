#pragma once

#include "quendel/texture.h"

namespace quendel {

/// Edge-blind recursive smoothing of every channel of `texture` in place,
/// one iteration along rows (left to right, then back) with the constant
/// coefficient exp(-sqrt2 / sigma). Results do not depend on the team size.
void horizontalHPass(CpuTexture& texture, float sigma);

/// The same along columns (top to bottom, then back).
void verticalHPass(CpuTexture& texture, float sigma);

}  // namespace quendel
