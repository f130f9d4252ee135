#include "boundary/shared_segment.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <utility>

namespace quendel {

namespace {

constexpr mode_t kAccess = 0666;

sem_t* semaphore(void* handle) {
    return static_cast<sem_t*>(handle);
}

timespec deadlineAfter(std::chrono::milliseconds timeout) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const long long nanoseconds =
        deadline.tv_nsec + static_cast<long long>(timeout.count() % 1000) * 1000000LL;
    deadline.tv_sec += static_cast<time_t>(timeout.count() / 1000 + nanoseconds / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    return deadline;
}

}  // namespace

SharedSegment::SharedSegment(std::string name) : m_name(std::move(name)) {}

SharedSegment::~SharedSegment() {
    close();
}

bool SharedSegment::attach() {
    close();
    const int descriptor = shm_open(m_name.c_str(), O_RDWR, kAccess);
    if (descriptor < 0) return false;
    struct stat status {};
    const bool sized = fstat(descriptor, &status) == 0 && status.st_size > 0;
    const bool mapped = sized && map(descriptor, static_cast<std::size_t>(status.st_size));
    ::close(descriptor);
    return mapped && openLock();
}

bool SharedSegment::create(std::size_t size) {
    close();
    if (size == 0) return false;
    const int descriptor = shm_open(m_name.c_str(), O_RDWR | O_CREAT, kAccess);
    if (descriptor < 0) return false;
    // Someone may have made it between our attach and this call: then keep their size.
    struct stat status {};
    bool ready = fstat(descriptor, &status) == 0;
    if (ready && status.st_size == 0) {
        ready = ftruncate(descriptor, static_cast<off_t>(size)) == 0;
        status.st_size = static_cast<off_t>(size);
    }
    const bool mapped = ready && map(descriptor, static_cast<std::size_t>(status.st_size));
    ::close(descriptor);
    return mapped && openLock();
}

bool SharedSegment::map(int descriptor, std::size_t size) {
    void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
    if (address == MAP_FAILED) return false;
    m_bytes = static_cast<std::byte*>(address);
    m_size = size;
    return true;
}

bool SharedSegment::openLock() {
    sem_t* lock = sem_open(lockName(m_name).c_str(), O_CREAT, kAccess, 1u);
    if (lock == SEM_FAILED) {
        close();
        return false;
    }
    m_lock = lock;
    return true;
}

void SharedSegment::close() {
    if (m_bytes != nullptr) munmap(m_bytes, m_size);
    if (m_lock != nullptr) sem_close(semaphore(m_lock));
    m_bytes = nullptr;
    m_size = 0;
    m_lock = nullptr;
}

SharedSegment::LockResult SharedSegment::lock(std::chrono::milliseconds timeout) const {
    if (m_lock == nullptr) return LockResult::Failed;
    const timespec deadline = deadlineAfter(timeout);
    while (sem_timedwait(semaphore(m_lock), &deadline) != 0) {
        if (errno == ETIMEDOUT) return LockResult::TakenOver;
        if (errno != EINTR) return LockResult::TakenOver;
    }
    return LockResult::Acquired;
}

void SharedSegment::unlock() const {
    if (m_lock == nullptr) return;
    // A taken-over lock was never decremented; posting it brings it back to free. Never post
    // above one, or two users could enter at once later.
    int value = 0;
    if (sem_getvalue(semaphore(m_lock), &value) == 0 && value > 0) return;
    sem_post(semaphore(m_lock));
}

void SharedSegment::removeName(const std::string& name) {
    shm_unlink(name.c_str());
    sem_unlink(lockName(name).c_str());
}

}  // namespace quendel
