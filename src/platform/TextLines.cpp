#include "platform/TextFile.h"

// The line rules, the same on every system: only reading the bytes differs.
namespace kestova::platform {

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool endsWithFeed = end != std::string_view::npos;
        if (!endsWithFeed) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (endsWithFeed && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> readLines(const std::string& path) {
    const std::optional<std::string> content = readWholeFile(path);
    if (!content) {
        return {};
    }
    return splitLines(*content);
}

std::string readFirstLine(const std::string& path) {
    std::vector<std::string> lines = readLines(path);
    return lines.empty() ? std::string{} : std::move(lines.front());
}

}  // namespace kestova::platform
