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

}  // namespace kestova::platform
