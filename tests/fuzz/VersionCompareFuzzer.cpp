// Any latest and local version: equal exactly when the trimmed latest is the local one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/VersionCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view latest = input.substr(0, split);
    const std::string_view local =
        split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    const kestova::VersionCheckResult result = kestova::compareVersions(latest, local);
    if (result != kestova::kVersionUpToDate && result != kestova::kUpgradeRequired) {
        std::abort();
    }
    if (result == kestova::kVersionUpToDate && latest.find(local) == std::string_view::npos) {
        std::abort();
    }
    return 0;
}
