#include "platform/ProgramFolder.h"

#include <windows.h>

#include <string>

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

}  // namespace kestova::platform
