#pragma once

#include <string>

namespace filtering {

/// A new file written beside its destination and renamed into place only
/// once it is whole, so that a failed or interrupted write never leaves a
/// truncated file where the output belongs, nor damages what was there.
class ReplacingFile {
  public:
    /// Creates the temporary file; see isOpen().
    explicit ReplacingFile(std::string destination);
    /// Removes the temporary file unless it was committed.
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool isOpen() const { return descriptor_ >= 0; }
    /// Open for writing; owned by this object until release().
    int descriptor() const { return descriptor_; }
    /// Hands the descriptor to a caller who closes it (a stdio stream).
    int release();
    const std::string& temporaryPath() const { return temporary_; }
    /// Makes the contents durable and moves them into place. False, with
    /// `error` set, when either fails; the destination is then untouched.
    bool commit(std::string& error);

  private:
    std::string destination_, temporary_;
    int descriptor_ = -1;
    bool committed_ = false;
};

/// Whether a file can be written at `path`: its folder exists and takes a
/// new file, and the path is not a folder. Checked before the work, so that
/// a run does not fail after it. False, with the reason in `error`.
bool canWriteFile(const std::string& path, std::string& error);

}  // namespace filtering
