#pragma once

#include <optional>
#include <string>

#include "quendel/instruction_set.h"

namespace quendel {

/// The widest set this build has loops for that the processor (and the
/// operating system's saved register state) supports.
InstructionSet widestAvailableInstructionSet();

/// The set to run on when `asked` (the value of QUENDEL_ISA, or null) is
/// requested and `widest` is available; `notice` receives the line to report
/// when the request cannot be honoured as it stands, and stays empty
/// otherwise.
InstructionSet chooseInstructionSet(const char* asked, InstructionSet widest, std::string& notice);

/// Makes activeInstructionSet() return `set` (no more than the widest
/// available) until it is called again; nullopt restores the choice made
/// from the environment. For tests that compare the sets in one process.
void overrideInstructionSet(std::optional<InstructionSet> set);

}  // namespace quendel
