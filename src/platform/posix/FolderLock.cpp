#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/LockFile.h"

namespace kestova::platform::lockfile {

// A lock is taken on a descriptor opened for reading as well. Never through a link.
std::intptr_t open(const std::string& lockFile) {
    const int descriptor =
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (descriptor >= 0) {
        return descriptor;
    }
    return ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
}

FolderLock::Outcome tryLock(std::intptr_t handle) {
    const int descriptor = static_cast<int>(handle);
    int result = 0;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return errno == EWOULDBLOCK ? FolderLock::Outcome::HeldElsewhere
                                    : FolderLock::Outcome::Unavailable;
    }
    return FolderLock::Outcome::Taken;
}

// Closing the last descriptor lets the lock go.
void close(std::intptr_t handle) {
    ::close(static_cast<int>(handle));
}

}  // namespace kestova::platform::lockfile
