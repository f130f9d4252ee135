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

/// While it lives, host filters called from the thread that made it run
/// their teams on at most one `parts`-th of the processors (at least one):
/// for a caller that runs `parts` filters side by side on threads of its
/// own, so that together they do not take turns on the same processors.
/// Shares do not nest: the latest one on a thread holds until it ends.
/// Results never depend on it.
class TeamShare {
  public:
    explicit TeamShare(int parts);
    ~TeamShare();
    TeamShare(const TeamShare&) = delete;
    TeamShare& operator=(const TeamShare&) = delete;

  private:
    int previous;
};

}  // namespace quendel
