#include "iperf/IperfRunner.h"

#include <optional>
#include <string_view>

#include "iperf/IperfCommandScripts.h"
#include "platform/ChildProcess.h"
#include "platform/ProgramFolder.h"
#include "workspace/RunLog.h"

namespace kestova {

namespace {

void runScript(std::string_view runnerName, const std::string& scriptPath, std::size_t index,
               std::chrono::milliseconds wait) {
    runLog() << "start run " << runnerName << " index:" << index << " " << currentTimestamp();
    std::optional<platform::ChildProcess> script =
        platform::ChildProcess::startShellScript(scriptPath);
    if (!script) {
        return;
    }
    static_cast<void>(script->waitForExit(wait));
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
    runScript("runDownloadIperf", downloadScriptFullPath(index), index, wait);
}

void runUploadIperf(std::size_t index, std::chrono::milliseconds wait) {
    runScript("runUploadIperf", uploadScriptFullPath(index), index, wait);
}

}  // namespace kestova
