#include <windows.h>

#include "platform/LockFile.h"
#include "platform/windows/WideText.h"

namespace kestova::platform::lockfile {

// Others may open the lock file too (the lock, not the sharing, keeps them out).
std::intptr_t open(const std::string& lockFile) {
    const std::wstring name = toWide(lockFile);
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        file = ::CreateFileW(name.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // INVALID_HANDLE_VALUE is kNone.
    return reinterpret_cast<std::intptr_t>(file);
}

FolderLock::Outcome tryLock(std::intptr_t handle) {
    OVERLAPPED start{};
    if (::LockFileEx(reinterpret_cast<HANDLE>(handle),
                     LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start) == 0) {
        const DWORD error = ::GetLastError();
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                   ? FolderLock::Outcome::HeldElsewhere
                   : FolderLock::Outcome::Unavailable;
    }
    return FolderLock::Outcome::Taken;
}

// Closing the handle lets the lock go; so does the end of the process.
void close(std::intptr_t handle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace kestova::platform::lockfile
