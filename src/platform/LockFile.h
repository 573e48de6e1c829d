#pragma once

#include <cstdint>
#include <string>

#include "platform/FolderLock.h"

// The system calls behind FolderLock, one set a platform; FolderLockCommon.cpp holds the rest.

namespace kestova::platform::lockfile {

// A lock file's handle; kNone when none is open.
constexpr std::intptr_t kNone = -1;

// The lock file, made when missing (for this user only), else opened for reading alone when the
// folder lets this user no further; never inherited by a child. kNone when neither works.
std::intptr_t open(const std::string& lockFile);

// Tries once, without waiting, to take the lock on the open lock file: Taken, HeldElsewhere, or
// Unavailable when the system refuses for another reason.
FolderLock::Outcome tryLock(std::intptr_t handle);

// Closes the lock file, which lets the lock go.
void close(std::intptr_t handle);

}  // namespace kestova::platform::lockfile
