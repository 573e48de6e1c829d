#include "workspace/ScriptTrust.h"

#include <filesystem>

#include "platform/FolderTrust.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova::workspace {

std::optional<std::string> whyScriptsMayNotRunHere() {
    const std::string iperfFolder = std::filesystem::path(kIperfClient).parent_path().string();
    for (const std::string& place :
         {std::string("."), std::string(kFolder), std::string(kIperfParameters), iperfFolder,
          std::string(kIperfClient)}) {
        if (std::optional<std::string> why = platform::whyOthersCanChange(place)) {
            std::string line = "no test runs here: ";
            line.append(*why).append(", who could then change what the test runs");
            return line;
        }
    }
    return std::nullopt;
}

}  // namespace kestova::workspace
