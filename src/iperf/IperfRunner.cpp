#include "iperf/IperfRunner.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "iperf/IperfCommandScripts.h"
#include "platform/ChildProcess.h"
#include "workspace/RunLog.h"

namespace kestova {

namespace {

std::string inProgramFolder(const std::string& name) {
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? name : (folder / name).string();
}

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
    return inProgramFolder(downloadScriptPath(index));
}

std::string uploadScriptFullPath(std::size_t index) {
    return inProgramFolder(uploadScriptPath(index));
}

void runDownloadIperf(std::size_t index, std::chrono::milliseconds wait) {
    runScript("runDownloadIperf", downloadScriptFullPath(index), index, wait);
}

void runUploadIperf(std::size_t index, std::chrono::milliseconds wait) {
    runScript("runUploadIperf", uploadScriptFullPath(index), index, wait);
}

}  // namespace kestova
