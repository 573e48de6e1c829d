#include "platform/FileTail.h"

#include <windows.h>

#include <algorithm>

#include "platform/windows/WideText.h"

namespace kestova::platform {

namespace {

// 100 ns ticks between 1601-01-01 (the file time's epoch) and 1970-01-01.
constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;

std::int64_t nanosecondsSinceEpoch(const FILETIME& time) {
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (ticks - kTicksFrom1601To1970) * 100;
}

// A file on disk, neither a folder nor a reparse point: a pipe or a device is not followed.
bool isRegularFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return ::GetFileType(file) == FILE_TYPE_DISK &&
           ::GetFileInformationByHandle(file, &information) != 0 &&
           (information.dwFileAttributes & kNotAFile) == 0;
}

}  // namespace

std::optional<FileTail> readFileTail(const std::string& path, std::uint64_t offset,
                                     std::size_t maxBytes) {
    // Shared both ways: the iperf3 client goes on writing while the follower looks. A reparse
    // point (a link) is opened itself, not followed, and then read as missing.
    const HANDLE file = ::CreateFileW(
        toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    FILETIME written{};
    if (!isRegularFile(file) || ::GetFileSizeEx(file, &size) == 0 ||
        ::GetFileTime(file, nullptr, nullptr, &written) == 0) {
        ::CloseHandle(file);
        return std::nullopt;
    }
    FileTail tail;
    tail.size = static_cast<std::uint64_t>(size.QuadPart);
    tail.modifiedNs = nanosecondsSinceEpoch(written);
    const std::uint64_t available = tail.size > offset ? tail.size - offset : 0;
    tail.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(available, maxBytes)));
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(offset);
    std::size_t got = 0;
    if (!tail.bytes.empty() && ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0) {
        while (got < tail.bytes.size()) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(tail.bytes.size() - got, 1u << 20));
            DWORD read = 0;
            if (::ReadFile(file, tail.bytes.data() + got, chunk, &read, nullptr) == 0 ||
                read == 0) {
                break;
            }
            got += read;
        }
    }
    tail.bytes.resize(got);
    ::CloseHandle(file);
    return tail;
}

}  // namespace kestova::platform
