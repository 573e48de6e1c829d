#include "platform/TextFile.h"

#include <array>
#include <fstream>
#include <iterator>

namespace kestova::platform {

bool writeWholeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    // Read in large blocks: outputs of many servers are read at the end of every stage.
    std::string content;
    std::array<char, 65536> block;
    while (in.read(block.data(), block.size()) || in.gcount() > 0) {
        content.append(block.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return std::nullopt;
    }
    return content;
}

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
