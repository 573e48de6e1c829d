#pragma once

#include <string>
#include <string_view>

// How this system spells what the program writes for it: command scripts, the paths inside them
// and the line end of a text file.
namespace kestova::platform {

#ifdef _WIN32
inline constexpr std::string_view kScriptSuffix = ".bat";
inline constexpr const char* kIperfClientPath = "iperf\\iperf3.exe";
inline constexpr char kScriptPathSeparator = '\\';
inline constexpr std::string_view kTextLineEnd = "\r\n";
#else
inline constexpr std::string_view kScriptSuffix = ".sh";
inline constexpr const char* kIperfClientPath = "iperf/iperf3";
inline constexpr char kScriptPathSeparator = '/';
inline constexpr std::string_view kTextLineEnd = "\n";
#endif

// A relative path with "/" between its parts, as a script (and the run log) of this system spells
// it.
inline std::string inScriptSpelling(std::string_view path) {
    std::string spelled(path);
    for (char& c : spelled) {
        if (c == '/') {
            c = kScriptPathSeparator;
        }
    }
    return spelled;
}

// The bytes a text file of this system holds for the text: every line feed stored as the
// system's line end.
inline std::string asStoredText(std::string_view text) {
    if (kTextLineEnd == "\n") {
        return std::string(text);
    }
    std::string stored;
    stored.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') {
            stored.append(kTextLineEnd);
        } else {
            stored += c;
        }
    }
    return stored;
}

}  // namespace kestova::platform
