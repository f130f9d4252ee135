#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundations/instruction_set_choice.h"
#include "foundations/simd_dispatch.h"

namespace quendel {

namespace {

constexpr InstructionSet kAllSets[] = {InstructionSet::Sse2, InstructionSet::Avx2,
                                       InstructionSet::Avx512};

// -1 while no test overrides the choice.
std::atomic<int> overridden{-1};

InstructionSet chooseFromEnvironment() {
    std::string notice;
    const InstructionSet chosen =
        chooseInstructionSet(std::getenv("QUENDEL_ISA"), widestAvailableInstructionSet(), notice);
    if (!notice.empty()) {
        std::fprintf(stderr, "quendel: %s\n", notice.c_str());
    }
    return chosen;
}

}  // namespace

const char* instructionSetName(InstructionSet set) {
    switch (set) {
        case InstructionSet::Avx512:
            return "avx512";
        case InstructionSet::Avx2:
            return "avx2";
        case InstructionSet::Sse2:
            break;
    }
    return "sse2";
}

InstructionSet widestAvailableInstructionSet() {
#ifdef QUENDEL_SIMD_DISPATCH_SETS
    // The features of each set's copies: AVX2 with FMA, and the level
    // x86-64-v4 (its remaining features, such as MOVBE and F16C, come with
    // every processor that has these).
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    const bool avx512 = avx2 && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
                        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                        __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
                        __builtin_cpu_supports("avx512vl");
    if (avx512) {
        return InstructionSet::Avx512;
    }
    if (avx2) {
        return InstructionSet::Avx2;
    }
#endif
    return InstructionSet::Sse2;
}

InstructionSet chooseInstructionSet(const char* asked, InstructionSet widest, std::string& notice) {
    notice.clear();
    if (asked == nullptr || *asked == '\0') {
        return widest;
    }
    const InstructionSet* known = std::find_if(
        std::begin(kAllSets), std::end(kAllSets),
        [&](InstructionSet set) { return std::strcmp(asked, instructionSetName(set)) == 0; });
    if (known == std::end(kAllSets)) {
        notice = std::string("QUENDEL_ISA=") + asked + " is not one of sse2, avx2, avx512; using " +
                 instructionSetName(widest);
        return widest;
    }
    if (*known > widest) {
        notice = std::string("QUENDEL_ISA=") + asked + " is wider than this processor has; using " +
                 instructionSetName(widest);
        return widest;
    }
    return *known;
}

InstructionSet activeInstructionSet() {
    const int forced = overridden.load(std::memory_order_relaxed);
    if (forced >= 0) {
        return static_cast<InstructionSet>(forced);
    }
    static const InstructionSet chosen = chooseFromEnvironment();
    return chosen;
}

void overrideInstructionSet(std::optional<InstructionSet> set) {
    if (!set) {
        overridden.store(-1);
        return;
    }
    overridden.store(static_cast<int>(std::min(*set, widestAvailableInstructionSet())));
}

}  // namespace quendel
