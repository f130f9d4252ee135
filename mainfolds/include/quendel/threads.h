#pragma once

namespace quendel {

/// Size of the team of threads the host filters run their parallel loops
/// on; 4 unless a caller sets another. Results never depend on it.
void setThreadCount(int count);
int threadCount();

/// The team size every host filter starts with.
inline constexpr int kDefaultThreadCount = 4;

}  // namespace quendel
