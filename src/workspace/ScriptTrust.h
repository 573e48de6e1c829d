#pragma once

#include <optional>
#include <string>

namespace kestova::workspace {

// Why no command script may run from the program folder (the current folder), as the one line
// that says so; nothing when they may. They may not when another user (the administrator
// excepted) could change what a script is or does: the program folder, which holds the scripts,
// or a folder above it; the speedTest folder or its parameter file, whose text goes into every
// script; the iperf folder or the iperf3 client that the scripts run.
std::optional<std::string> whyScriptsMayNotRunHere();

// The same for the program folder given by its path, before the program has entered it.
std::optional<std::string> whyScriptsMayNotRunIn(const std::string& programFolder);

}  // namespace kestova::workspace
