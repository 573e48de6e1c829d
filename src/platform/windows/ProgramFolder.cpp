#include "platform/ProgramFolder.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/windows/WideText.h"

namespace kestova::platform {

namespace {

// The folder's full name, as the system resolves it against the current folder.
std::wstring fullNameOf(const std::wstring& folder) {
    const DWORD length = ::GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return folder;
    }
    std::wstring full(length, L'\0');
    const DWORD written = ::GetFullPathNameW(folder.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length) {
        return folder;
    }
    full.resize(written);
    return full;
}

// True for "X:\...": the test's scripts run through cmd.exe in the program folder, and cmd.exe
// takes no network share ("\\server\share") nor "\\?\" name as its current folder: it would run
// them in the Windows folder instead, where none of their relative paths lead.
bool onADriveLetter(const std::wstring& full) {
    return full.size() >= 3 &&
           ((full[0] >= L'A' && full[0] <= L'Z') || (full[0] >= L'a' && full[0] <= L'z')) &&
           full[1] == L':' && (full[2] == L'\\' || full[2] == L'/');
}

}  // namespace

std::optional<std::string> executableFolder() {
    // Long paths are allowed: the buffer grows until the whole name fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::nullopt;
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) {
            return std::nullopt;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return std::nullopt;
    }
    return toUtf8(std::wstring_view(path).substr(0, separator));
}

std::string inCurrentFolder(const std::string& name) {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0) {
        return name;
    }
    std::wstring folder(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, folder.data());
    if (written == 0 || written >= length) {
        return name;
    }
    folder.resize(written);
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    return toUtf8(folder) + name;
}

std::optional<std::string> enterProgramFolder(const std::optional<std::string>& workdir) {
    const std::optional<std::string> folder = workdir ? workdir : executableFolder();
    if (!folder) {
        return "the folder of the program cannot be found";
    }
    const std::wstring wide = toWide(*folder);
    if (!onADriveLetter(fullNameOf(wide))) {
        return "the program folder " + *folder +
               " is not on a drive letter (a network share or a \\\\?\\ name): the test's scripts "
               "cannot run there; map it to a drive letter or copy the program to a local folder";
    }
    if (::SetCurrentDirectoryW(wide.c_str()) == 0) {
        return "cannot enter " + *folder + " (error " + std::to_string(::GetLastError()) + ")";
    }
    return std::nullopt;
}

namespace {

// The environment variable's value as UTF-8, nothing when it is unset or empty.
std::optional<std::string> environmentValue(const wchar_t* name) {
    const DWORD length = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (length <= 1) {
        return std::nullopt;
    }
    std::wstring value(length, L'\0');
    const DWORD written = ::GetEnvironmentVariableW(name, value.data(), length);
    if (written == 0 || written >= length) {
        return std::nullopt;
    }
    value.resize(written);
    return toUtf8(value);
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::optional<std::string> userWorkspaceFolder() {
    if (const auto local = environmentValue(L"LOCALAPPDATA")) {
        return *local + "\\Kestova Speedtest";
    }
    if (const auto profile = environmentValue(L"USERPROFILE")) {
        return *profile + "\\AppData\\Local\\Kestova Speedtest";
    }
    return std::nullopt;
}

bool userCanWrite(const std::string& folder) {
    // The folder's access rules are the system's to weigh: a file made there and gone at once.
    const std::wstring probe =
        toWide(folder) + L"\\.kestova-write-check-" + std::to_wstring(::GetCurrentProcessId());
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(file);
    return true;
}

std::optional<std::string> makeOwnFolder(const std::string& folder) {
    const std::wstring wide = toWide(folder);
    std::size_t at = wide.find_first_of(L"\\/", wide.size() > 2 && wide[1] == L':' ? 3 : 0);
    for (;;) {
        const std::wstring made = wide.substr(0, at);
        if (!made.empty() && !isFolder(made) && ::CreateDirectoryW(made.c_str(), nullptr) == 0 &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return "cannot make " + toUtf8(made) + " (error " + std::to_string(::GetLastError()) +
                   ")";
        }
        if (at == std::wstring::npos) {
            return std::nullopt;
        }
        at = wide.find_first_of(L"\\/", at + 1);
    }
}

std::optional<std::string> placeIperfClient(const std::string& programFolder,
                                            const std::string& workspace, bool renew) {
    const std::filesystem::path installed = toWide(programFolder + "\\iperf");
    const std::filesystem::path copy = toWide(workspace + "\\iperf");
    if (const auto error = makeOwnFolder(toUtf8(copy.wstring()))) {
        return error;
    }
    // The client with the libraries it needs beside it.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(installed, error)) {
        const std::filesystem::path target = copy / entry.path().filename();
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) ||
            (!renew && std::filesystem::exists(target, ignored))) {
            continue;
        }
        if (!copyWholeFile(toUtf8(entry.path().wstring()), toUtf8(target.wstring()))) {
            return "cannot copy " + toUtf8(entry.path().wstring());
        }
    }
    return std::nullopt;
}

}  // namespace kestova::platform
