#include <filesystem>
#include <string>
#include <system_error>

#include "platform/ProgramFolder.h"

namespace kestova::platform {

namespace {

// Paths are UTF-8 text everywhere in the program; on Windows the system's own encoding differs.
std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A name that starts with two separators: a network share or a "\\?\" name. Windows only: there
// the library reads no such root, and on POSIX "//x" is "/x".
bool offADriveLetter(const std::string& folder) {
    constexpr bool windowsNames = std::filesystem::path::preferred_separator == L'\\';
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    return windowsNames && folder.size() >= 2 && separator(folder[0]) && separator(folder[1]);
}

}  // namespace

bool copyWholeFile(const std::string& from, const std::string& to) {
    const std::filesystem::path target = pathOf(to);
    std::filesystem::path temporary = target;
    temporary += ".new";
    std::error_code error;
    std::filesystem::copy_file(pathOf(from), temporary,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (!error) {
        std::filesystem::rename(temporary, target, error);
    }
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

std::string fullFolderPath(const std::string& folder) {
    // Made canonical, such a name becomes a folder of the current drive (Z:\localhost\share
    // under Wine): kept as given, it is refused where the program enters it.
    if (offADriveLetter(folder)) {
        return folder;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(pathOf(folder), error);
    const std::filesystem::path full =
        error ? absolute : std::filesystem::weakly_canonical(absolute, error);
    if (error) {
        return folder;
    }
    const std::u8string text = full.u8string();
    return {text.begin(), text.end()};
}

}  // namespace kestova::platform
