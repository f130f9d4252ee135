#pragma once

#include "program/program_options.h"

namespace filtering {

/// Denoises every frame of `options.frames`, each as a one-frame run would,
/// a failing frame leaving the others to go on. Shows progress on a
/// terminal, then a summary and the failed frames with their reasons.
/// Returns the exit status: 0 when every frame was written (or skipped as
/// whole with --skip-existing), 1 otherwise.
int runFrameSequence(const ProgramOptions& options);

}  // namespace filtering
