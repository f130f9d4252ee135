#pragma once

#include <QThread>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "boundary/shared_segment.h"

namespace quendel {

// Watches the settings segment for the renderer's "exitnow" request and asks for a fresh
// publication when it finds one. It never publishes itself: the table belongs to the GUI
// thread, so `requestPublication` must hand the work over there (a queued call).
class ListenerThread : public QThread {
    Q_OBJECT

  public:
    static constexpr std::chrono::milliseconds kPollInterval{200};

    ListenerThread(const SharedSegment& settingsSegment, std::chrono::milliseconds lockTimeout,
                   LockTakeOverNotice takeOverNotice, std::function<void()> requestPublication);
    // Stops the loop and waits for it.
    ~ListenerThread() override;

    // Ends the loop at its next pass (or at once while it sleeps) and waits for it.
    void stop();
    // Lets the next request through again; called once a requested publication was made.
    void publicationDone();

  protected:
    void run() override;

  private:
    bool requestFound() const;
    // False when asked to stop while sleeping.
    bool sleepUnlessStopped();

    const SharedSegment& m_segment;
    std::chrono::milliseconds m_lockTimeout;
    LockTakeOverNotice m_takeOverNotice;
    std::function<void()> m_requestPublication;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_requestPending = false;
};

}  // namespace quendel
