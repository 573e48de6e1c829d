#include "workspace/ScriptTrust.h"

#include <filesystem>

#include "platform/FolderTrust.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova::workspace {

std::optional<std::string> whyScriptsMayNotRunHere() {
    return whyScriptsMayNotRunIn(".");
}

std::optional<std::string> whyScriptsMayNotRunIn(const std::string& programFolder) {
    const std::filesystem::path folder(programFolder);
    const std::filesystem::path iperfFolder = std::filesystem::path(kIperfClient).parent_path();
    for (const std::filesystem::path& place : {folder, folder / kFolder, folder / kIperfParameters,
                                               folder / iperfFolder, folder / kIperfClient}) {
        if (std::optional<std::string> why = platform::whyOthersCanChange(place.string())) {
            std::string line = "no test runs here: ";
            line.append(*why).append(", who could then change what the test runs");
            return line;
        }
    }
    return std::nullopt;
}

}  // namespace kestova::workspace
