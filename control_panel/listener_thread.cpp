#include "listener_thread.h"

#include "boundary/settings_record.h"

namespace quendel {

ListenerThread::ListenerThread(const SharedSegment& settingsSegment,
                               std::chrono::milliseconds lockTimeout,
                               LockTakeOverNotice takeOverNotice,
                               std::function<void()> requestPublication)
    : m_segment(settingsSegment),
      m_lockTimeout(lockTimeout),
      m_takeOverNotice(std::move(takeOverNotice)),
      m_requestPublication(std::move(requestPublication)) {}

ListenerThread::~ListenerThread() {
    stop();
}

void ListenerThread::stop() {
    {
        std::lock_guard guard(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    wait();
}

void ListenerThread::publicationDone() {
    std::lock_guard guard(m_mutex);
    m_requestPending = false;
}

void ListenerThread::run() {
    do {
        if (!requestFound()) continue;
        std::unique_lock guard(m_mutex);
        // The request stays in the segment until the publication replaces it; ask only once.
        if (m_requestPending || m_stopping) continue;
        m_requestPending = true;
        guard.unlock();
        m_requestPublication();
    } while (sleepUnlessStopped());
}

bool ListenerThread::requestFound() const {
    if (!m_segment.isOpen()) return false;
    SegmentLock lock(m_segment, m_lockTimeout, m_takeOverNotice);
    return holdsExitNowRequest(m_segment.bytes());
}

bool ListenerThread::sleepUnlessStopped() {
    std::unique_lock guard(m_mutex);
    return !m_wake.wait_for(guard, kPollInterval, [this] { return m_stopping; });
}

}  // namespace quendel
