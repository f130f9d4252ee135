// Linked into every test program of the library: a team of seven runs on
// seven threads however few processors the machine has, so that a result
// that depended on how the team shares out the work would show.
#include "foundations/team_for_work.h"

namespace {

constexpr int kLargestTestedTeam = 64;

const bool processorsLifted = [] {
    quendel::setProcessorLimit(kLargestTestedTeam);
    return true;
}();

}  // namespace
