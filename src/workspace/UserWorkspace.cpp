#include "workspace/UserWorkspace.h"

#include "platform/ProgramFolder.h"
#include "platform/TextFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova::workspace {

namespace {

std::string inFolder(const std::string& folder, const std::string& name) {
    std::string path = folder;
    path += platform::kScriptPathSeparator;
    path += platform::inScriptSpelling(name);
    return path;
}

// Copies the installed file into the workspace when it is missing there, or whatever it holds
// when renew is set; an installed file that is not there is left out.
bool copyInstalledFile(const std::string& programFolder, const std::string& workspace,
                       const std::string& name, bool renew) {
    const std::string installed = inFolder(programFolder, name);
    const std::string copy = inFolder(workspace, name);
    if (!platform::readWholeFile(installed) ||
        (!renew && platform::readWholeFile(copy).has_value())) {
        return true;
    }
    return platform::copyWholeFile(installed, copy);
}

}  // namespace

WorkspaceChoice chooseWorkspace(const std::optional<std::string>& workdir) {
    WorkspaceChoice choice;
    const std::optional<std::string> programFolder = platform::executableFolder();
    choice.programFolder = programFolder.value_or(std::string());
    if (workdir) {
        choice.workspace = Workspace{platform::fullFolderPath(*workdir), WorkspaceKind::Given};
    } else if (!programFolder) {
        choice.error = "the folder of the program cannot be found";
    } else if (platform::userCanWrite(*programFolder)) {
        choice.workspace =
            Workspace{platform::fullFolderPath(*programFolder), WorkspaceKind::ProgramFolder};
    } else if (const std::optional<std::string> own = platform::userWorkspaceFolder()) {
        choice.workspace = Workspace{*own, WorkspaceKind::UserFolder};
    } else {
        choice.error = "the program's folder " + *programFolder +
                       " is not yours to write and you have no home folder; give --workdir DIR";
    }
    return choice;
}

std::optional<std::string> makeUserWorkspace(const Workspace& workspace) {
    if (workspace.kind != WorkspaceKind::UserFolder) {
        return std::nullopt;
    }
    return platform::makeOwnFolder(workspace.folder);
}

std::optional<std::string> prepareUserWorkspace(const std::string& programFolder,
                                                const Workspace& workspace) {
    if (workspace.kind != WorkspaceKind::UserFolder) {
        return std::nullopt;
    }
    const std::string& folder = workspace.folder;
    if (const auto error = platform::makeOwnFolder(inFolder(folder, kFolder))) {
        return error;
    }
    const std::optional<std::string> installedVersion =
        platform::readWholeFile(inFolder(programFolder, kLocalVersion));
    const bool renew = installedVersion != platform::readWholeFile(inFolder(folder, kLocalVersion));
    for (const char* name : kInstalledFiles) {
        if (!copyInstalledFile(programFolder, folder, name, renew)) {
            return "cannot copy " + inFolder(programFolder, name) + " into " + folder;
        }
    }
    if (!copyInstalledFile(programFolder, folder, kLocalVersion, renew)) {
        return "cannot copy " + inFolder(programFolder, kLocalVersion) + " into " + folder;
    }
    return platform::placeIperfClient(programFolder, folder, renew);
}

}  // namespace kestova::workspace
