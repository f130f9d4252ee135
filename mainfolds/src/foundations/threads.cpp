#include "quendel/threads.h"

#include <atomic>

namespace quendel {

namespace {
std::atomic<int> teamSize{kDefaultThreadCount};
}

void setThreadCount(int count) {
    teamSize.store(count < 1 ? 1 : count);
}

int threadCount() {
    return teamSize.load();
}

}  // namespace quendel
