#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace kestova {

// The full path of a server's command script in the program folder.
std::string downloadScriptFullPath(std::size_t index);
std::string uploadScriptFullPath(std::size_t index);

// The body of a worker: makes the server's output a fresh file of the program's own and runs the
// server's command script, whose ">" writes into it, with /bin/sh (iperf::startScriptWritingInto),
// and waits for it at most the given time. A script still running then is left to run through its
// stage, so that a late finisher still counts in the stage's merge (platform::endRunningScripts
// ends it before the next stage and when the program ends); a script that cannot be started writes
// the start line only.
void runDownloadIperf(std::size_t index, std::chrono::milliseconds wait);
void runUploadIperf(std::size_t index, std::chrono::milliseconds wait);

}  // namespace kestova
