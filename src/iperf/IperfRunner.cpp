#include "iperf/IperfRunner.h"

#include <optional>
#include <string_view>

#include "iperf/IperfCommandScripts.h"
#include "iperf/IperfOutput.h"
#include "iperf/ScriptStart.h"
#include "platform/ChildProcess.h"
#include "platform/ProgramFolder.h"
#include "workspace/RunLog.h"

namespace kestova {

namespace {

void runScript(std::string_view runnerName, const std::string& scriptPath,
               const std::string& outputPath, std::size_t index, std::chrono::milliseconds wait) {
    runLog() << "start run " << runnerName << " index:" << index << " " << currentTimestamp();
    if (iperf::runScriptUntilServed(scriptPath, outputPath, wait) == iperf::ScriptRun::NotStarted) {
        return;
    }
    runLog() << "end run " << runnerName << " index:" << index << " " << currentTimestamp();
}

}  // namespace

std::string downloadScriptFullPath(std::size_t index) {
    return platform::inCurrentFolder(downloadScriptPath(index));
}

std::string uploadScriptFullPath(std::size_t index) {
    return platform::inCurrentFolder(uploadScriptPath(index));
}

void runDownloadIperf(std::size_t index, std::chrono::milliseconds wait) {
    runScript("runDownloadIperf", downloadScriptFullPath(index), iperf::downloadOutputPath(index),
              index, wait);
}

void runUploadIperf(std::size_t index, std::chrono::milliseconds wait) {
    runScript("runUploadIperf", uploadScriptFullPath(index), iperf::uploadOutputPath(index), index,
              wait);
}

}  // namespace kestova
