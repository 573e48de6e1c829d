#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/ChildProcess.h"

namespace kestova::iperf {

// Starts a command script whose ">" writes the output file. Right before, the program makes the
// output a fresh empty file of its own, exclusively and without following a link (whatever stood
// at the name is removed, never what a link points to), and starts the script only while the name
// still stands for that file: the script's ">" then writes into it, and a link or pipe planted at
// the name is neither written through nor waited on. Nothing, with one run log line, when the file
// could not be made or was replaced; nothing when the script could not be started.
std::optional<platform::ChildProcess> startScriptWritingInto(const std::string& scriptPath,
                                                             const std::string& outputPath);

// Every later start is told to the observer between the output's creation and the name's check,
// with the output's path, from the starting thread; an empty observer ends that. For tests, which
// plant things at the name in that moment.
using OutputMadeObserver = std::function<void(const std::string& outputPath)>;
void observeOutputsMade(OutputMadeObserver observer);

}  // namespace kestova::iperf
