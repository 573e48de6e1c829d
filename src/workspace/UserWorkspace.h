#pragma once

#include <optional>
#include <string>

namespace kestova::workspace {

// Where the program works, and why there.
enum class WorkspaceKind {
    Given,          // --workdir
    ProgramFolder,  // the folder of the program, which this user may write (a portable copy)
    UserFolder      // this user's own workspace, beside a program installed for the system
};

struct Workspace {
    std::string folder;  // a full path
    WorkspaceKind kind = WorkspaceKind::ProgramFolder;
};

struct WorkspaceChoice {
    std::optional<Workspace> workspace;
    std::string error;  // why there is none, when there is none
    std::string programFolder;
};

// --workdir when given; else the program's folder when this user may write it; else this user's
// own workspace. Looks only: nothing is made or written.
WorkspaceChoice chooseWorkspace(const std::optional<std::string>& workdir);

// Makes this user's own workspace when it is missing, for this user alone. The reason when it
// could not be made.
std::optional<std::string> makeUserWorkspace(const Workspace& workspace);

// Brings this user's own workspace up to the installed program: each installed file of speedTest/
// is copied in when it is missing, and all of them again when the installed localVersion.txt
// differs from the workspace's (the version last, so that a copy cut short is made again); the
// history and the user's other files stay. iperf/iperf3 runs the installed client. The reason
// when it could not be done.
std::optional<std::string> prepareUserWorkspace(const std::string& programFolder,
                                                const Workspace& workspace);

}  // namespace kestova::workspace
