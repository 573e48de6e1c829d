#include "platform/TextFile.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/SystemSpelling.h"
#include "platform/windows/FileSizeLimit.h"
#include "platform/windows/WideText.h"

namespace kestova::platform {

namespace {

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { close(); }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool close() {
        const bool closed = !valid() || ::CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle_;
};

constexpr std::uint64_t kNoLimit = ~std::uint64_t{0};

std::atomic<std::uint64_t>& fileSizeLimit() {
    static std::atomic<std::uint64_t> limit{kNoLimit};
    return limit;
}

// How many of the chunk's bytes fit below the file size limit at the file's current position.
DWORD bytesThatFit(HANDLE file, DWORD chunk) {
    const std::uint64_t limit = fileSizeLimit().load();
    LARGE_INTEGER position{};
    if (limit == kNoLimit ||
        ::SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT) == 0) {
        return chunk;
    }
    const auto at = static_cast<std::uint64_t>(position.QuadPart);
    return at >= limit ? 0 : static_cast<DWORD>(std::min<std::uint64_t>(chunk, limit - at));
}

bool writeAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytesThatFit(file, static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20)));
        DWORD written = 0;
        if (chunk == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return false;
        }
        if (::WriteFile(file, bytes.data(), chunk, &written, nullptr) == 0 || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// How a new file's writing went.
enum class NewFile { NotMade, PartWritten, Written };

// Creates the file, which must not exist yet, with sharing that lets the page and other readers
// keep it open, and writes the bytes.
NewFile writeNewFile(const std::wstring& path, std::string_view bytes) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return NewFile::NotMade;
    }
    const bool written = writeAll(file.get(), bytes);
    return file.close() && written ? NewFile::Written : NewFile::PartWritten;
}

// Writes the bytes over the file's own. When that fails partway the file is put back as it was:
// its old bytes (they fit, the file held them), or no file where there was none.
bool writeInPlace(const std::wstring& path, std::string_view bytes) {
    const std::optional<std::string> old = readWholeFile(toUtf8(path));
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return false;
    }
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (writeAll(file.get(), bytes) && ::SetEndOfFile(file.get()) != 0) {
        return file.close();
    }
    if (existed && old &&
        ::SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) != 0 &&
        writeAll(file.get(), *old)) {
        ::SetEndOfFile(file.get());
    }
    file.close();
    if (!existed) {
        ::DeleteFileW(path.c_str());
    }
    return false;
}

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& information) {
    return {
        information.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

std::wstring temporaryNameBeside(const std::wstring& path) {
    static std::atomic<unsigned> counter{0};
    return path + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
           std::to_wstring(counter.fetch_add(1)) + L".tmp";
}

}  // namespace

bool writeWholeFile(const std::string& path, std::string_view bytes) {
    const std::wstring target = toWide(path);
    // A read-only file, a link or anything but a plain file is left as it is.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT |
                       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        return false;
    }
    const std::string stored = asStoredText(bytes);
    // Written whole beside the file, then put in its place: a reader sees the old content or the
    // new one, never a part. A reader that holds the file without letting it be replaced (an open
    // without delete sharing) makes the replacement fail, and a folder may refuse new files: the
    // file is then written in place. A new file that could not be written whole (a full disk) is
    // removed and the file left as it was: in place the write would fail as well.
    const std::wstring temporary = temporaryNameBeside(target);
    switch (writeNewFile(temporary, stored)) {
        case NewFile::Written:
            if (::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
                return true;
            }
            ::DeleteFileW(temporary.c_str());
            return writeInPlace(target, stored);
        case NewFile::PartWritten:
            ::DeleteFileW(temporary.c_str());
            return false;
        case NewFile::NotMade:
            break;
    }
    return writeInPlace(target, stored);
}

void limitFileSize(std::optional<std::uint64_t> bytes) {
    fileSizeLimit().store(bytes.value_or(kNoLimit));
}

std::optional<FileIdentity> createFreshFile(const std::string& path) {
    const std::wstring wide = toWide(path);
    // Each failed creation means something was planted at the name after the removal.
    constexpr int kAttempts = 4;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // A link is removed itself, never what it points to.
        if (::DeleteFileW(wide.c_str()) == 0 && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
            return std::nullopt;
        }
        const FileHandle file(::CreateFileW(
            wide.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file.valid()) {
            BY_HANDLE_FILE_INFORMATION information{};
            if (::GetFileInformationByHandle(file.get(), &information) == 0) {
                return std::nullopt;
            }
            return identityOf(information);
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool nameStandsFor(const std::string& path, const FileIdentity& identity) {
    const FileHandle file(::CreateFileW(
        toWide(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.valid() || ::GetFileInformationByHandle(file.get(), &information) == 0) {
        return false;
    }
    constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return (information.dwFileAttributes & kNotAFile) == 0 && identityOf(information) == identity;
}

std::optional<std::string> readWholeFile(const std::string& path) {
    // Only a plain file is read: a device or a pipe at the name reads as missing.
    FileHandle file(::CreateFileW(toWide(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
        return std::nullopt;
    }
    std::string content;
    std::string block(65536, '\0');
    for (;;) {
        DWORD got = 0;
        if (::ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) ==
            0) {
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        content.append(block.data(), got);
    }
}

}  // namespace kestova::platform
