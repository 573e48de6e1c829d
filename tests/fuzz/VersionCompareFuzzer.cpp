// Any latest and local version: equal exactly when the latest, trimmed of white space at both
// ends, is the local one byte for byte, as an independent trim and compare says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/VersionCheck.h"

namespace {

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Trims by indices, the other way round from the code under test.
bool trimmedEquals(std::string_view latest, std::string_view local) {
    std::size_t begin = 0;
    std::size_t end = latest.size();
    while (begin < end && isWhiteSpace(latest[begin])) {
        ++begin;
    }
    while (end > begin && isWhiteSpace(latest[end - 1])) {
        --end;
    }
    if (end - begin != local.size()) {
        return false;
    }
    for (std::size_t i = 0; i < local.size(); ++i) {
        if (latest[begin + i] != local[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view latest = input.substr(0, split);
    const std::string_view local =
        split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    const kestova::VersionCheckResult result = kestova::compareVersions(latest, local);
    const kestova::VersionCheckResult expected = trimmedEquals(latest, local)
                                                     ? kestova::VersionCheckResult::UpToDate
                                                     : kestova::VersionCheckResult::UpgradeRequired;
    if (result != expected) {
        std::abort();
    }
    return 0;
}
