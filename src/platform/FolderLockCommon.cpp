#include "platform/FolderLock.h"

#include <utility>

#include "platform/LockFile.h"

// What FolderLock does alike on both platforms; posix/ and windows/ hold the system calls.

namespace kestova::platform {

std::optional<FolderLock> FolderLock::take(const std::string& lockFile, Outcome& outcome) {
    const std::intptr_t handle = lockfile::open(lockFile);
    if (handle == lockfile::kNone) {
        outcome = Outcome::Unavailable;
        return std::nullopt;
    }
    outcome = lockfile::tryLock(handle);
    if (outcome != Outcome::Taken) {
        lockfile::close(handle);
        return std::nullopt;
    }
    return FolderLock(handle);
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : handle_(std::exchange(other.handle_, lockfile::kNone)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, lockfile::kNone);
    }
    return *this;
}

FolderLock::~FolderLock() {
    release();
}

void FolderLock::release() {
    if (handle_ != lockfile::kNone) {
        lockfile::close(handle_);  // closing the lock file lets the lock go
        handle_ = lockfile::kNone;
    }
}

}  // namespace kestova::platform
