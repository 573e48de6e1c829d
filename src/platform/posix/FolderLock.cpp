#include "platform/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestova::platform {

namespace {

// The lock file, made when missing; read-only when the folder lets this user no further (a lock
// is taken on a descriptor opened for reading as well). Never through a link; never inherited.
int openLockFile(const std::string& lockFile) {
    const int descriptor =
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (descriptor >= 0) {
        return descriptor;
    }
    return ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
}

}  // namespace

std::optional<FolderLock> FolderLock::take(const std::string& lockFile, Outcome& outcome) {
    const int descriptor = openLockFile(lockFile);
    if (descriptor < 0) {
        outcome = Outcome::Unavailable;
        return std::nullopt;
    }
    int result = 0;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        outcome = errno == EWOULDBLOCK ? Outcome::HeldElsewhere : Outcome::Unavailable;
        ::close(descriptor);
        return std::nullopt;
    }
    outcome = Outcome::Taken;
    return FolderLock(descriptor);
}

FolderLock::FolderLock(FolderLock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

FolderLock::~FolderLock() {
    release();
}

void FolderLock::release() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));  // closing the last descriptor lets the lock go
        handle_ = -1;
    }
}

}  // namespace kestova::platform
