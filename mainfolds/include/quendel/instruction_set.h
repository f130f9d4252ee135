#pragma once

namespace quendel {

/// The x86-64 instruction sets the host filters have loops for, narrowest
/// first. Every set gives the very same results; only the speed differs.
enum class InstructionSet { Sse2 = 0, Avx2 = 1, Avx512 = 2 };

/// The set the host filters run on: the widest the processor has, or a
/// narrower one asked for with the environment variable QUENDEL_ISA (`sse2`,
/// `avx2` or `avx512`), read on first use. A wider set than the processor
/// has, or an unknown name, is reported with one line on stderr and the
/// widest available set is used.
InstructionSet activeInstructionSet();

/// "sse2", "avx2" or "avx512".
const char* instructionSetName(InstructionSet set);

}  // namespace quendel
