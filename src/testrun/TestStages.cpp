#include "testrun/TestStages.h"

#include <algorithm>
#include <ctime>
#include <string_view>

#include "iperf/IperfCommandScripts.h"
#include "iperf/IperfOutput.h"
#include "iperf/IperfRunner.h"
#include "iperf/LineFit.h"
#include "iperf/LineProbe.h"
#include "iperf/SpeedFileMerge.h"
#include "platform/ChildProcess.h"
#include "platform/TextFile.h"
#include "service/ResultReport.h"
#include "testrun/StageWatch.h"
#include "testrun/TestHistory.h"
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
    StageDirection direction;
};

constexpr StageNames kDownload{"downloadTest", iperf::kDownloadBaseName, runDownloadIperf,
                               StageDirection::Download};
constexpr StageNames kUpload{"uploadTest", iperf::kUploadBaseName, runUploadIperf,
                             StageDirection::Upload};

// The steps of the path, in their order.
enum class Step { DownloadTest, CheckDownloadResult, UploadTest, CheckUploadResult };

enum class RunEnd { Completed, DownloadFailed, UploadFailed };

// Joins every worker it holds when it goes, also when the stage ends by an exception: a joinable
// thread left behind would end the program.
class Workers {
  public:
    Workers() = default;
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    ~Workers() { joinAll(); }

    void add(std::thread thread) { threads_.push_back(std::move(thread)); }

    void joinAll() {
        for (std::thread& thread : threads_) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }

  private:
    std::vector<std::thread> threads_;
};

// Starts one worker per server, all at once, and joins them in index order; the watch hears of
// each one that has ended. False when a worker could not be started; the ones that were are
// joined all the same.
bool runWorkers(const StageRun& run, Worker worker, StageWatch& watch) {
    Workers workers;
    bool allStarted = true;
    for (std::size_t index = 0; index < run.servers.size(); ++index) {
        std::optional<std::thread> thread =
            run.startThread([worker, index, wait = run.timing.scriptWait, &watch] {
                worker(index, wait);
                watch.serverEnded(index);
            });
        if (!thread) {
            allStarted = false;
            break;
        }
        workers.add(std::move(*thread));
    }
    workers.joinAll();
    return allStarted;
}

// Each server's output starts empty: a script that cannot start leaves no output of its own, and
// what an earlier test left there must not count as this test's measurement.
void forgetEarlierOutputs(const StageRun& run, const StageNames& names) {
    for (std::size_t index = 0; index < run.servers.size(); ++index) {
        iperf::emptyOutputFile(iperf::outputPath(names.baseName, index));
    }
}

// Probes the line in the stage's direction against the first server and writes the direction's
// scripts anew with the parameters fitted to what it told. The time it took is noted, so that the
// test's last pause can give it back. Returns the stage's run with the servers it runs against.
StageRun fitStageToLine(const StageRun& run, const StageNames& names) {
    if (run.servers.empty()) {
        return run;
    }
    const auto started = std::chrono::steady_clock::now();
    const bool download = names.direction == StageDirection::Download;
    const std::string installed = readIperfParameters();
    const std::optional<double> lineMbps =
        iperf::probeLine(run.servers.front(), iperf::probeParameters(installed), download,
                         run.timing.probeSeconds, run.timing.probeWait);
    const iperf::StageFit fit = iperf::fitStageToLine(installed, lineMbps, run.servers.size());
    runLog() << "iperf3 parameters of " << names.stage << ": " << fit.parameters;
    StageRun stage = run;
    if (fit.servers < run.servers.size()) {
        runLog() << "the line carries the streams of " << fit.servers << " of "
                 << run.servers.size() << " servers: " << names.stage << " runs against those";
        stage.servers.resize(fit.servers);
    }
    for (std::size_t index = 0; index < stage.servers.size(); ++index) {
        (download ? writeDownloadScript : writeUploadScript)(stage.servers[index], index,
                                                             fit.parameters);
    }
    run.measures->probing += std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    return stage;
}

// The pause after a stage's workers, for its late finishers: the whole pause, or until every
// script of the stage has ended when the timing says so.
void pauseForLateFinishers(const TestRunTiming& timing) {
    if (timing.pauseEndsWithScripts) {
        static_cast<void>(platform::waitForRunningScripts(timing.stagePause));
    } else {
        std::this_thread::sleep_for(timing.stagePause);
    }
}

// A stage: the probe, its workers, the pause and mergeSpeedFile. False when its workers could
// not all be started.
bool runStage(const StageRun& run, const StageNames& names) {
    // A client left running by an earlier stage or run would write into this stage's files.
    platform::endRunningScripts();
    forgetEarlierOutputs(run, names);
    if (names.direction == StageDirection::Download) {
        // The line's latency at rest ends before anything of this program's loads it.
        takeIdleLatency(*run.measures, run.idleLatency.get(), run.service, run.timing);
    }
    runLog() << "start run " << names.stage << "... " << currentTimestamp();
    const StageRun stage = fitStageToLine(run, names);
    StageWatch watch(stage, names.direction);
    if (!runWorkers(stage, names.worker, watch)) {
        return false;
    }
    watch.clientsEnded();
    pauseForLateFinishers(stage.timing);
    runLog() << "end run " << names.stage << "... " << currentTimestamp();
    watch.merged(mergeSpeedFile(std::string(names.baseName), stage.servers.size()));
    return true;
}

// A stage's check: "2" to the status file for every marker line of the merged file; true when
// there was one.
bool stageCompleted(const std::string& mergedPath, const std::string& statusPath) {
    bool found = false;
    for (const std::string& line : platform::readLines(mergedPath)) {
        if (iperf::holdsDoneMarker(line)) {
            writeStatusFile(statusPath, "2");
            found = true;
        }
    }
    return found;
}

// Where the run's thread is on the path: a failure there ends the test in the stage it was in,
// unless the test had already ended.
struct PathProgress {
    bool inUpload = false;
    bool ended = false;
    bool completed = false;
};

const char* errorCodeOf(RunEnd end) {
    return end == RunEnd::UploadFailed ? "e003" : "e002";
}

void writeStageFailed(RunEnd end) {
    if (end == RunEnd::DownloadFailed) {
        writeRunFailed("e002");
    } else if (end == RunEnd::UploadFailed) {
        writeStatusFile(workspace::kUploadStatus, "-1");
        writeStatusFile(workspace::kErrorCode, "e003");
    }
}

// The end of every run that reached the stages: the failure's status values, the test's figures
// and its history line, the buttons back, then the report of those figures when it is sent. The
// figures and the history line are taken before the buttons come back: a Restart pressed after
// that starts a test that rewrites the status and figure files while this report is on its way.
bool endRun(const StageRun& run, RunEnd end, PathProgress& progress, bool report) {
    writeStageFailed(end);
    const std::string download = downloadFigure();
    const std::string upload = uploadFigure();
    HistoryEntry entry =
        historyOfStages(*run.measures, end == RunEnd::Completed, std::time(nullptr));
    if (end != RunEnd::Completed) {
        entry.outcome = errorCodeOf(end);
    }
    static_cast<void>(appendToHistory(entry));
    progress.ended = true;
    progress.completed = end == RunEnd::Completed;
    run.window->post([](WindowOperations& window) { resetButtonsAfterRun(window); });
    if (report) {
        logResult(run.service, run.servers, download, upload);
    }
    return end == RunEnd::Completed;
}

// The whole path from the step given to the end of the run.
bool runSteps(Step first, const StageRun& run, PathProgress& progress) {
    if (first <= Step::DownloadTest && !runStage(run, kDownload)) {
        return endRun(run, RunEnd::DownloadFailed, progress, true);
    }
    if (first <= Step::CheckDownloadResult) {
        if (!stageCompleted(workspace::kDownloadSpeed, workspace::kDownloadStatus)) {
            return endRun(run, RunEnd::DownloadFailed, progress, true);
        }
        writeStatusFile(workspace::kUploadStatus, "1");
    }
    progress.inUpload = true;
    if (first <= Step::UploadTest && !runStage(run, kUpload)) {
        return endRun(run, RunEnd::UploadFailed, progress, true);
    }
    if (!stageCompleted(workspace::kUploadSpeed, workspace::kUploadStatus)) {
        return endRun(run, RunEnd::UploadFailed, progress, true);
    }
    // The probes' time comes out of this pause, so that a whole test takes no longer for them.
    std::this_thread::sleep_for(
        std::max(std::chrono::milliseconds(0), run.timing.uploadPause - run.measures->probing));
    return endRun(run, RunEnd::Completed, progress, true);
}

// A failure on the run's thread is a failed test: the stage it was in fails, and no report goes
// out of figures the test did not finish. Never left "under way".
bool endAfterFailure(const StageRun& run, PathProgress& progress, const char* what) {
    if (progress.ended) {
        runLog() << "test run stopped after its end: " << what;
        return progress.completed;
    }
    runLog() << "test run stopped in " << (progress.inUpload ? kUpload : kDownload).stage << ": "
             << what;
    return endRun(run, progress.inUpload ? RunEnd::UploadFailed : RunEnd::DownloadFailed, progress,
                  false);
}

bool runStagesFrom(Step first, const StageRun& run) {
    PathProgress progress;
    progress.inUpload = first >= Step::UploadTest;
    try {
        return runSteps(first, run, progress);
    } catch (const std::exception& error) {
        return endAfterFailure(run, progress, error.what());
    } catch (...) {
        return endAfterFailure(run, progress, "an unknown failure");
    }
}

}  // namespace

void writeRunFailed(const char* errorCode) {
    writeStatusFile(workspace::kDownloadStatus, "-1");
    writeStatusFile(workspace::kUploadStatus, "-1");
    writeStatusFile(workspace::kErrorCode, errorCode);
}

bool downloadTest(const StageRun& run) {
    return runStagesFrom(Step::DownloadTest, run);
}

bool checkDownloadResult(const StageRun& run) {
    return runStagesFrom(Step::CheckDownloadResult, run);
}

bool uploadTest(const StageRun& run) {
    return runStagesFrom(Step::UploadTest, run);
}

bool checkUploadResult(const StageRun& run) {
    return runStagesFrom(Step::CheckUploadResult, run);
}

}  // namespace kestova
