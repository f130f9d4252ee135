#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <span>
#include <string>

namespace quendel {

// A named block of memory shared between processes, with a named lock that every user takes
// before touching the bytes. Closing a segment detaches from it; the name stays until
// `removeName`, so a renderer and a panel can come and go in any order.
class SharedSegment {
  public:
    enum class LockResult {
        Acquired,
        TakenOver,  // the holder did not let go within the timeout; the caller owns it now
        Failed,     // no lock exists (the segment is not open)
    };

    explicit SharedSegment(std::string name);
    ~SharedSegment();
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    // Opens an existing segment at its own size. False when there is none.
    bool attach();
    // Opens the segment, creating it with `size` bytes when it does not exist yet.
    bool create(std::size_t size);
    void close();

    bool isOpen() const { return m_bytes != nullptr; }
    std::size_t size() const { return m_size; }
    std::span<std::byte> bytes() const { return {m_bytes, m_size}; }
    const std::string& name() const { return m_name; }

    // Waits up to `timeout` for the lock. A holder that died never lets go, so on timeout the
    // lock is taken over instead of waiting forever.
    LockResult lock(std::chrono::milliseconds timeout) const;
    void unlock() const;

    // Removes the segment's name and its lock's name from the system.
    static void removeName(const std::string& name);
    static std::string lockName(const std::string& segmentName) { return segmentName + ".lock"; }

  private:
    bool map(int descriptor, std::size_t size);
    bool openLock();

    std::string m_name;
    std::byte* m_bytes = nullptr;
    std::size_t m_size = 0;
    void* m_lock = nullptr;  // sem_t*, kept opaque so the header stays free of system headers
};

// Called when a lock had to be taken over from a holder that did not let go.
using LockTakeOverNotice = std::function<void(const SharedSegment&)>;

// Holds a segment's lock for one scope.
class SegmentLock {
  public:
    SegmentLock(const SharedSegment& segment, std::chrono::milliseconds timeout,
                const LockTakeOverNotice& notice = {})
        : m_segment(segment), m_result(segment.lock(timeout)) {
        if (m_result == SharedSegment::LockResult::TakenOver && notice) notice(segment);
    }
    ~SegmentLock() {
        if (m_result != SharedSegment::LockResult::Failed) m_segment.unlock();
    }
    SegmentLock(const SegmentLock&) = delete;
    SegmentLock& operator=(const SegmentLock&) = delete;

    SharedSegment::LockResult result() const { return m_result; }

  private:
    const SharedSegment& m_segment;
    SharedSegment::LockResult m_result;
};

}  // namespace quendel
