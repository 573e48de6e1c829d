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
    // A network name (\\server\share, \\?\ names) is already full, and the standard library
    // of the Windows build would read it as a folder on the current drive: it stays as given, for
    // entering the folder to judge it.
    const auto separator = [](char c) {
        return c == '/' || (std::filesystem::path::preferred_separator != '/' && c == '\\');
    };
    if (folder.size() >= 2 && separator(folder[0]) && separator(folder[1])) {
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
