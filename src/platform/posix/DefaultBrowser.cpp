#include "platform/DefaultBrowser.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/ChildProcess.h"
#include "platform/TextFile.h"

namespace kestova::platform {

namespace {

std::vector<std::string> applicationFolders() {
    std::vector<std::string> folders;
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && *dataHome != '\0') {
        folders.push_back(std::string(dataHome) + "/applications");
    } else if (home != nullptr) {
        folders.push_back(std::string(home) + "/.local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs = dataDirs != nullptr && *dataDirs != '\0'
                                ? std::string_view(dataDirs)
                                : std::string_view("/usr/local/share:/usr/share");
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        folders.push_back(std::string(dirs.substr(0, colon)) + "/applications");
        dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
    }
    return folders;
}

std::string trimmedLine(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

}  // namespace

std::optional<std::string> execLineOfDesktopEntry(std::string_view entry) {
    bool inMainGroup = false;
    for (const std::string& line : splitLines(entry)) {
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
        } else if (inMainGroup && line.rfind("Exec=", 0) == 0) {
            return line.substr(5);
        }
    }
    return std::nullopt;
}

std::string browserCommandLine(std::string_view execLine, std::string_view address) {
    std::size_t cut = std::string_view::npos;
    constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kFieldCodes{
        {{"%u", "\"%u\""}, {"%U", "\"%U\""}, {"%f", "\"%f\""}, {"%F", "\"%F\""}}};
    for (const auto& [code, quoted] : kFieldCodes) {
        const std::size_t quotedAt = execLine.find(quoted);
        const std::size_t at = quotedAt != std::string_view::npos ? quotedAt : execLine.find(code);
        cut = std::min(cut, at);
    }
    std::string command(execLine.substr(0, cut));
    return command.append(" ").append(address);
}

std::vector<std::string> commandWords(std::string_view commandLine) {
    std::vector<std::string> words;
    std::size_t start = commandLine.find_first_not_of(" \t");
    while (start != std::string_view::npos) {
        const std::size_t end = commandLine.find_first_of(" \t", start);
        const std::string_view word = commandLine.substr(start, end - start);
        if (!(word.size() == 2 && word.front() == '%')) {
            words.emplace_back(word);
        }
        start = end == std::string_view::npos ? end : commandLine.find_first_not_of(" \t", end);
    }
    return words;
}

std::optional<std::string> defaultBrowserExecLine() {
    const std::optional<std::string> handler = ChildProcess::captureOutput(
        {"xdg-mime", "query", "default", "x-scheme-handler/http"}, std::chrono::seconds(5));
    if (!handler || trimmedLine(*handler).empty()) {
        return std::nullopt;
    }
    const std::string desktopFile = trimmedLine(*handler);
    for (const std::string& folder : applicationFolders()) {
        const std::optional<std::string> entry = readWholeFile(folder + "/" + desktopFile);
        if (entry) {
            return execLineOfDesktopEntry(*entry);
        }
    }
    return std::nullopt;
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace kestova::platform
