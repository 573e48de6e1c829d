#include "probes/BrowserVersionProbe.h"

#include <algorithm>
#include <string>

#include "platform/TextFile.h"
#include "probes/StoredValueLimit.h"
#include "workspace/LeadingInteger.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

// The first non-empty line of the written value, without its NUL bytes.
std::string versionTextReadBack() {
    for (std::string line : platform::readLines(workspace::kIeVersionValue)) {
        if (!line.empty()) {
            line.erase(std::remove(line.begin(), line.end(), '\0'), line.end());
            return line;
        }
    }
    return {};
}

}  // namespace

int detectIeVersion(const platform::SystemValues& values) {
    const platform::StoredValue version = values.browserVersion();
    if (!version.keyOpened || !fitsStoredValueBuffer(version)) {
        return 0;
    }
    const platform::StoredValue serviceVersion = values.browserServiceVersion();
    const platform::StoredValue& used =
        fitsStoredValueBuffer(serviceVersion) ? serviceVersion : version;
    writeWorkspaceFile(workspace::kIeVersionValue, *used.bytes);

    const std::string text = versionTextReadBack();
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0) {
        return 0;
    }
    const int major = readLeadingInteger(std::string_view(text).substr(0, dot));
    writeWorkspaceFile(workspace::kIeVersion, std::to_string(major));
    return major >= 9 ? 1 : 0;
}

}  // namespace kestova
