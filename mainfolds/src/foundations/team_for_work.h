#pragma once

#include <cstddef>

namespace quendel {

/// Threads worth waking for a filter call over `work` pixels of all its
/// planes: the whole team, or only the calling thread when each member would
/// get too little to repay waking it. One call keeps one choice for all its
/// loops: a pool that changes size from loop to loop wakes sleeping threads
/// over and over. Results never depend on it.
int teamForWork(std::size_t work);

/// The least work a thread is woken for; tests set 1 to split even tiny
/// images across the whole team.
void setMinimumWorkPerThread(std::size_t work);
std::size_t minimumWorkPerThread();

}  // namespace quendel
