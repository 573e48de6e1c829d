#include "platform/FolderLock.h"

#include <windows.h>

#include <utility>

#include "platform/windows/WideText.h"

namespace kestova::platform {

namespace {

// The lock file, made when missing; opened for reading alone when the folder lets this user no
// further. Others may open it too (the lock, not the sharing, keeps them out); the handle is not
// inherited.
HANDLE openLockFile(const std::string& lockFile) {
    const std::wstring name = toWide(lockFile);
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        file = ::CreateFileW(name.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return file;
}

}  // namespace

std::optional<FolderLock> FolderLock::take(const std::string& lockFile, Outcome& outcome) {
    HANDLE file = openLockFile(lockFile);
    if (file == INVALID_HANDLE_VALUE) {
        outcome = Outcome::Unavailable;
        return std::nullopt;
    }
    OVERLAPPED start{};
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start) ==
        0) {
        const DWORD error = ::GetLastError();
        outcome = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                      ? Outcome::HeldElsewhere
                      : Outcome::Unavailable;
        ::CloseHandle(file);
        return std::nullopt;
    }
    outcome = Outcome::Taken;
    return FolderLock(reinterpret_cast<std::intptr_t>(file));
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
    if (handle_ != -1) {
        // Closing the handle lets the lock go; so does the end of the process.
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
        handle_ = -1;
    }
}

}  // namespace kestova::platform
