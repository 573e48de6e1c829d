#pragma once

#include <chrono>
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

// How a script run into its output ended.
enum class ScriptRun { NotStarted, Ended, StillRunning };

// An iperf3 server serves one test at a time: right after a test, while it closes the last one,
// it turns the next client away as busy. A script whose output measured nothing is run again
// after a moment, for at most this long from its first start.
inline constexpr std::chrono::milliseconds kBusyServerBound{3000};

// Starts the script writing into its output, as startScriptWritingInto does, and waits for it
// within the wait; a run that measured nothing (its server busy) is started again (one run log line
// each time) within kBusyServerBound and the wait. A script still running at the end is left to its
// owner. Runs on the caller's thread.
ScriptRun runScriptUntilServed(const std::string& scriptPath, const std::string& outputPath,
                               std::chrono::milliseconds wait);

// Every later start is told to the observer between the output's creation and the name's check,
// with the output's path, from the starting thread; an empty observer ends that. For tests, which
// plant things at the name in that moment.
using OutputMadeObserver = std::function<void(const std::string& outputPath)>;
void observeOutputsMade(OutputMadeObserver observer);

}  // namespace kestova::iperf
