#include "foundations/team_for_work.h"

#include <algorithm>
#include <atomic>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

#include "quendel/threads.h"

namespace quendel {

namespace {
// About a tenth of a millisecond of sweeping per thread.
std::atomic<std::size_t> leastWork{std::size_t{1} << 16};

int processorsOfThisProcess() {
#if defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        return std::max(CPU_COUNT(&set), 1);
    }
#endif
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

std::atomic<int>& processors() {
    static std::atomic<int> count{processorsOfThisProcess()};
    return count;
}

// How many filters the calling thread's caller runs side by side.
thread_local int sharedAmong = 1;
}  // namespace

TeamShare::TeamShare(int parts) : previous(sharedAmong) {
    sharedAmong = std::max(parts, 1);
}

TeamShare::~TeamShare() {
    sharedAmong = previous;
}

int workersFor(int team) {
    return std::max(1, std::min(team, processorLimit() / sharedAmong));
}

int workerCount() {
    return workersFor(threadCount());
}

void setProcessorLimit(int count) {
    processors().store(std::max(count, 1));
}

int processorLimit() {
    return processors().load();
}

int teamForWork(std::size_t work) {
    const int team = workerCount();
    return work / static_cast<std::size_t>(team) >= minimumWorkPerThread() ? team : 1;
}

void setMinimumWorkPerThread(std::size_t work) {
    leastWork.store(std::max<std::size_t>(work, 1));
}

std::size_t minimumWorkPerThread() {
    return leastWork.load();
}

}  // namespace quendel
