#pragma once

namespace quendel {

/// Size of the team of threads the host filters run their parallel loops
/// on; 4 unless a caller sets another. Results never depend on it. A team
/// larger than the processors this process may use runs on as many threads
/// as there are processors: more would only take turns with each other.
void setThreadCount(int count);
int threadCount();

/// The team size every host filter starts with.
inline constexpr int kDefaultThreadCount = 4;

}  // namespace quendel
