#include "testrun/TestStages.h"

#include <string_view>

#include "iperf/IperfOutput.h"
#include "iperf/IperfRunner.h"
#include "iperf/SpeedFileMerge.h"
#include "platform/ChildProcess.h"
#include "platform/TextFile.h"
#include "service/ResultReport.h"
#include "workspace/RunLog.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

using Worker = void (*)(std::size_t, std::chrono::milliseconds);

struct StageNames {
    std::string_view stage;
    std::string_view baseName;
    Worker worker;
};

constexpr StageNames kDownload{"downloadTest", iperf::kDownloadBaseName, runDownloadIperf};
constexpr StageNames kUpload{"uploadTest", iperf::kUploadBaseName, runUploadIperf};

// Starts one worker per server, all at once, and joins them in index order. False when a worker
// could not be started; the ones that were are joined all the same.
bool runWorkers(const StageRun& run, Worker worker) {
    std::vector<std::thread> workers;
    bool allStarted = true;
    for (std::size_t index = 0; index < run.servers.size(); ++index) {
        std::optional<std::thread> thread =
            run.startThread([worker, index, wait = run.timing.scriptWait] { worker(index, wait); });
        if (!thread) {
            allStarted = false;
            break;
        }
        workers.push_back(std::move(*thread));
    }
    for (std::thread& thread : workers) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    return allStarted;
}

// The stage's workers, pause and merge. False when its workers could not all be started.
bool runStage(const StageRun& run, const StageNames& names) {
    // A client left running by an earlier stage or run would write into this stage's files.
    platform::endRunningScripts();
    runLog() << "start run " << names.stage << "... " << currentTimestamp();
    if (!runWorkers(run, names.worker)) {
        return false;
    }
    std::this_thread::sleep_for(run.timing.stagePause);
    runLog() << "end run " << names.stage << "... " << currentTimestamp();
    mergeSpeedFile(std::string(names.baseName), run.servers.size());
    return true;
}

// Writes "2" to the status file for every marker line of the merged file; true when there was one.
bool markCompletedLines(const std::string& mergedPath, const std::string& statusPath) {
    bool found = false;
    for (const std::string& line : platform::readLines(mergedPath)) {
        if (iperf::holdsDoneMarker(line)) {
            writeStatusFile(statusPath, "2");
            found = true;
        }
    }
    return found;
}

void endRun(const StageRun& run) {
    run.window->post([](WindowOperations& window) { resetButtonsAfterRun(window); });
    logResult(run.service, run.servers);
}

bool failDownload(const StageRun& run) {
    writeRunFailed("e002");
    endRun(run);
    return false;
}

bool failUpload(const StageRun& run) {
    writeStatusFile(workspace::kUploadStatus, "-1");
    writeStatusFile(workspace::kErrorCode, "e003");
    endRun(run);
    return false;
}

}  // namespace

void writeRunFailed(const char* errorCode) {
    writeStatusFile(workspace::kDownloadStatus, "-1");
    writeStatusFile(workspace::kUploadStatus, "-1");
    writeStatusFile(workspace::kErrorCode, errorCode);
}

bool downloadTest(const StageRun& run) {
    return runStage(run, kDownload) ? checkDownloadResult(run) : failDownload(run);
}

bool uploadTest(const StageRun& run) {
    return runStage(run, kUpload) ? checkUploadResult(run) : failUpload(run);
}

bool checkDownloadResult(const StageRun& run) {
    if (!markCompletedLines(workspace::kDownloadSpeed, workspace::kDownloadStatus)) {
        return failDownload(run);
    }
    writeStatusFile(workspace::kUploadStatus, "1");
    return uploadTest(run);
}

bool checkUploadResult(const StageRun& run) {
    if (!markCompletedLines(workspace::kUploadSpeed, workspace::kUploadStatus)) {
        return failUpload(run);
    }
    std::this_thread::sleep_for(run.timing.uploadPause);
    endRun(run);
    return true;
}

}  // namespace kestova
