#pragma once

#include <optional>
#include <string>

namespace kestova::platform {

// The folder that holds the running executable; nothing when the system does not say.
std::optional<std::string> executableFolder();

// The name joined to the current folder with the system's separator, as UTF-8 text (the name
// alone when the current folder cannot be read).
std::string inCurrentFolder(const std::string& name);

// Makes the program folder the current directory: the given folder when there is one, else the
// executable's folder. Called once at start; every path of the program is relative to it. Returns
// the reason when the change failed, nothing when it succeeded.
std::optional<std::string> enterProgramFolder(const std::optional<std::string>& workdir);

// The folder as a full path without "." or ".." and, where it exists, without links: two spellings
// of one folder give one text.
std::string fullFolderPath(const std::string& folder);

// Where this user's own workspace is: on Linux $XDG_DATA_HOME/kestova-speedtest when
// XDG_DATA_HOME is a full path, else ~/.local/share/kestova-speedtest; on Windows
// %LOCALAPPDATA%\Kestova Speedtest. Nothing when the system names no home for the user.
std::optional<std::string> userWorkspaceFolder();

// Whether this user may make and change files in the folder (false for a missing one).
bool userCanWrite(const std::string& folder);

// Makes the folder and the missing ones above it, each for this user alone; folders that exist
// keep their mode. The reason when one could not be made, nothing when all stand.
std::optional<std::string> makeOwnFolder(const std::string& folder);

// Copies the file's bytes over the target: into a new file beside it, then renamed into place, so
// that the target holds the old bytes or the new. False when either step failed.
bool copyWholeFile(const std::string& from, const std::string& to);

// Gives the workspace an iperf client that runs the one installed in the program folder, so that
// the command scripts keep their bytes: on Linux iperf/iperf3 a symbolic link to the installed
// one (renewed when it points elsewhere; a file the user put there is kept); on Windows a copy of
// the installed iperf folder, made when missing and again when renew is set. The reason when it
// could not be given, nothing when it stands.
std::optional<std::string> placeIperfClient(const std::string& programFolder,
                                            const std::string& workspace, bool renew);

}  // namespace kestova::platform
