#include "frame_io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace filtering {

ReplacingFile::ReplacingFile(std::string destination)
    : destination_(std::move(destination)), temporary_(destination_ + ".XXXXXX") {
    descriptor_ = mkstemp(temporary_.data());
    if (descriptor_ < 0) {
        return;
    }
    // mkstemp makes the file private; give it the mode a plain fopen would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor_, 0666 & ~mask);
}

ReplacingFile::~ReplacingFile() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
    if (!committed_ && !temporary_.empty()) {
        std::remove(temporary_.c_str());
    }
}

int ReplacingFile::release() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
}

bool ReplacingFile::commit(std::string& error) {
    // A released descriptor was closed by its stream, which flushed it.
    const int descriptor =
        descriptor_ >= 0 ? descriptor_ : ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = descriptor >= 0 && fsync(descriptor) == 0;
    const int syncError = errno;
    if (descriptor >= 0 && descriptor != descriptor_) {
        ::close(descriptor);
    }
    if (!synced) {
        error = std::strerror(syncError);
        return false;
    }
    if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

bool canWriteFile(const std::string& path, std::string& error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        error = "is a folder";
        return false;
    }
    // A real file beside it, as the write itself will make, then gone again.
    ReplacingFile probe(path);
    if (!probe.isOpen()) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace filtering
