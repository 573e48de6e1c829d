#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestova::platform {

// An operating-system lock on a lock file, held for as long as the object lives (flock on Linux,
// LockFileEx on Windows). The system lets it go with its holder, even one that was killed; no
// child inherits it.
class FolderLock {
  public:
    enum class Outcome {
        Taken,          // this process holds the lock now
        HeldElsewhere,  // another process holds it
        Unavailable     // the lock file can be neither made nor opened (a read-only folder)
    };

    // Makes the lock file when it is missing (for this user only) and tries once to take the
    // lock, without waiting.
    static std::optional<FolderLock> take(const std::string& lockFile, Outcome& outcome);

    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

  private:
    explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
    void release();

    std::intptr_t handle_ = -1;
};

}  // namespace kestova::platform
