#include "foundations/team_for_work.h"

#include <algorithm>
#include <atomic>

#include "quendel/threads.h"

namespace quendel {

namespace {
// About a tenth of a millisecond of sweeping per thread.
std::atomic<std::size_t> leastWork{std::size_t{1} << 16};
}  // namespace

int teamForWork(std::size_t work) {
    const int team = threadCount();
    return work / static_cast<std::size_t>(team) >= minimumWorkPerThread() ? team : 1;
}

void setMinimumWorkPerThread(std::size_t work) {
    leastWork.store(std::max<std::size_t>(work, 1));
}

std::size_t minimumWorkPerThread() {
    return leastWork.load();
}

}  // namespace quendel
