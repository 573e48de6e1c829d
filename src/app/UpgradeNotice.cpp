#include "app/UpgradeNotice.h"

#include <string_view>

#include "platform/TextFile.h"
#include "testrun/UpgradePage.h"
#include "workspace/TextEscape.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

std::string trimmed(std::string_view text) {
    constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1));
}

}  // namespace

bool upgradeIsRequired() {
    return platform::readFirstLine(workspace::kVersionStatus) == "1";
}

std::string upgradeRequiredNotice() {
    const std::string local = platform::readFirstLine(workspace::kLocalVersion);
    const std::string offered =
        trimmed(platform::readWholeFile(workspace::kLatestVersion).value_or(""));
    // Both versions are read from files the service's answer or anyone may have filled.
    return "kestova-speedtest: a newer version is required: this is version " +
           (local.empty() ? std::string("(unknown)") : withControlCharactersEscaped(local)) +
           ", the service offers " + withControlCharactersEscaped(offered) + "; get it from " +
           kUpgradePageAddress + "\n";
}

}  // namespace kestova
