#include "app/UpgradeNotice.h"

#include <string_view>

#include "platform/TextFile.h"
#include "testrun/UpgradePage.h"
#include "workspace/Text.h"
#include "workspace/TextEscape.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

bool upgradeIsRequired() {
    return platform::readFirstLine(workspace::kVersionStatus) == "1";
}

std::string upgradeRequiredNotice() {
    const std::string local = platform::readFirstLine(workspace::kLocalVersion);
    const std::string offered(
        trimmed(platform::readWholeFile(workspace::kLatestVersion).value_or("")));
    // Both versions are read from files the service's answer or anyone may have filled.
    return "kestova-speedtest: a newer version is required: this is version " +
           (local.empty() ? std::string("(unknown)") : withControlCharactersEscaped(local)) +
           ", the service offers " + withControlCharactersEscaped(offered) + "; get it from " +
           kUpgradePageAddress + "\n";
}

}  // namespace kestova
