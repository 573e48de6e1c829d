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

}  // namespace kestova::platform
