#pragma once

#include <cstddef>

namespace quendel {

/// Threads worth waking for a filter call over `work` pixels of all its
/// planes: the whole team, or only the calling thread when each member would
/// get too little to repay waking it. One call keeps one choice for all its
/// loops: a pool that changes size from loop to loop wakes sleeping threads
/// over and over. Results never depend on it.
int teamForWork(std::size_t work);

/// Threads that a parallel loop of a team of `team` runs on: never more than
/// the processors this process may use (or the calling thread's share of
/// them: see TeamShare), where more threads would only take turns with each
/// other and wait at every join. Work is shared out so
/// that results never depend on it.
int workersFor(int team);

/// workersFor(threadCount()).
int workerCount();

/// The processors the team may use: those this process may run on, unless
/// a test sets another count to run larger teams than the machine has.
void setProcessorLimit(int processors);
int processorLimit();

/// The least work a thread is woken for; tests set 1 to split even tiny
/// images across the whole team.
void setMinimumWorkPerThread(std::size_t work);
std::size_t minimumWorkPerThread();

}  // namespace quendel
