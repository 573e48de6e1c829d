#include "testrun/TestRun.h"

#include <ctime>
#include <exception>
#include <thread>

#include "platform/TextFile.h"
#include "service/AddressLookup.h"
#include "testrun/TestHistory.h"
#include "testrun/TestStages.h"
#include "workspace/RunLog.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

// The stage thread's body: the whole second half of the test. Nothing may leave it by an
// exception; should one come, the run ends as failed and the buttons come back.
void runStageThread(const std::shared_ptr<StageRun>& run,
                    const std::shared_ptr<RunTracker>& tracker) {
    bool completed = false;
    try {
        completed = downloadTest(*run);
    } catch (const std::exception& error) {
        runLog() << "test run stopped: " << error.what();
        run->window->post([](WindowOperations& window) { resetButtonsAfterRun(window); });
    }
    static_cast<void>(
        appendToHistory(historyOfStages(*run->measures, completed, std::time(nullptr))));
    tracker->runEnded(completed);
}

}  // namespace

TestRun::TestRun(TestRunSettings settings, WindowOperations& window,
                 std::shared_ptr<WindowChannel> channel)
    : settings_(std::move(settings)), window_(window), channel_(std::move(channel)) {}

void TestRun::OnBnClickedStart() {
    if (platform::readFirstLine(workspace::kVersionStatus) == "1") {
        if (settings_.openAddress) {
            settings_.openAddress(settings_.upgradeAddress);
        }
        if (settings_.endProgram) {
            settings_.endProgram();
        }
        return;
    }
    runLog() << "click start button...";
    getIpAddress(settings_.service);
    window_.disableButton(WindowButton::Start);
    window_.disableButton(WindowButton::Cancel);
    assignServersAndStart();
}

void TestRun::OnBnClickedRestart() {
    getIpAddress(settings_.service);
    window_.reloadPage();
    window_.disableButton(WindowButton::Restart);
    window_.disableButton(WindowButton::Cancel);
    window_.hideButton(WindowButton::Start);
    assignServersAndStart();
}

std::optional<bool> TestRun::waitForRunsToEnd(std::chrono::milliseconds bound) {
    return tracker_->waitUntilIdle(bound);
}

void TestRun::assignServersAndStart() {
    const int result = requestIperfServer(settings_.service, *settings_.assignments);
    if (result != kAssignmentGranted) {
        endWithoutStages(result == kAssignmentUnreachable ? "e001" : "e002");
        return;
    }
    auto run = std::make_shared<StageRun>(StageRun{settings_.assignments->iperfServerList(),
                                                   settings_.service, settings_.timing, channel_,
                                                   settings_.startThread});
    writeStatusFile(workspace::kDownloadStatus, "1");
    writeStatusFile(workspace::kUploadStatus, "0");
    tracker_->runStarted();
    std::optional<std::thread> stageThread =
        settings_.startThread([run, tracker = tracker_] { runStageThread(run, tracker); });
    if (!stageThread) {
        // Without its stage thread the test cannot run: it ends as a failed download would,
        // and the buttons come back rather than staying disabled for good.
        tracker_->runEnded(false);
        writeRunFailed("e002");
        static_cast<void>(appendToHistory(historyWithoutStages("e002", std::time(nullptr))));
        resetButtonsAfterRun(window_);
        return;
    }
    stageThread->detach();
}

void TestRun::endWithoutStages(const char* errorCode) {
    writeRunFailed(errorCode);
    static_cast<void>(appendToHistory(historyWithoutStages(errorCode, std::time(nullptr))));
    std::this_thread::sleep_for(settings_.timing.failedAssignmentWait);
    resetButtonsAfterRun(window_);
    tracker_->runStarted();
    tracker_->runEnded(false);
}

}  // namespace kestova
