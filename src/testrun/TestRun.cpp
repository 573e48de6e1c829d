#include "testrun/TestRun.h"

#include <ctime>
#include <exception>
#include <thread>

#include "platform/TextFile.h"
#include "service/AddressLookup.h"
#include "testrun/TestHistory.h"
#include "testrun/TestMeasures.h"
#include "testrun/TestStages.h"
#include "workspace/RunLog.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

// What a run's thread holds: its own copies, and what it shares with the commands.
struct RunThreadState {
    TestRunSettings settings;
    std::shared_ptr<WindowChannel> window;
    std::shared_ptr<RunTracker> tracker;
    std::shared_ptr<std::atomic<bool>> preparing;
};

void disableForFirstRun(WindowOperations& window) {
    window.disableButton(WindowButton::Start);
    window.disableButton(WindowButton::Cancel);
}

void disableForLaterRun(WindowOperations& window) {
    window.reloadPage();
    window.disableButton(WindowButton::Restart);
    window.disableButton(WindowButton::Cancel);
    window.hideButton(WindowButton::Start);
}

void giveButtonsBack(const RunThreadState& state) {
    state.window->post([](WindowOperations& window) { resetButtonsAfterRun(window); });
}

// A test that ended before its stages: both stages failed with the code, its history line, and
// the buttons back after the wait.
void endBeforeStages(const RunThreadState& state, const char* code) {
    writeRunFailed(code);
    static_cast<void>(appendToHistory(historyWithoutStages(code, std::time(nullptr))));
    std::this_thread::sleep_for(state.settings.timing.failedAssignmentWait);
    giveButtonsBack(state);
}

// The first half of a test: the address lookup, the buttons, the server assignment, with the idle
// latency samples beside them. The run's servers when they were granted; otherwise the failure has
// been shown and the buttons given back.
std::optional<StageRun> prepareRun(bool firstRun, const RunThreadState& state) {
    const TestRunSettings& settings = state.settings;
    std::shared_ptr<IdleLatency> idleLatency =
        startIdleLatency(settings.service, settings.timing, settings.lookUpLatencyPeer);
    getIpAddress(settings.service);
    state.window->post(firstRun ? disableForFirstRun : disableForLaterRun);
    const AssignmentResult result = requestIperfServer(settings.service, *settings.assignments);
    if (result != AssignmentResult::Granted) {
        endBeforeStages(state, result == AssignmentResult::Unreachable ? "e001" : "e002");
        return std::nullopt;
    }
    StageRun run{settings.assignments->iperfServerList(), settings.service, settings.timing,
                 state.window, settings.startThread};
    run.idleLatency = std::move(idleLatency);
    // The page shows the live figures while the status says "1": none of them may be an earlier
    // test's.
    forgetEarlierMeasures();
    writeStatusFile(workspace::kDownloadStatus, "1");
    writeStatusFile(workspace::kUploadStatus, "0");
    return run;
}

// The run's thread: the whole test. Nothing may leave it by an exception. The stages end a
// failure of their own as a failed stage; one before them ends the test as a failed download.
void runTest(bool firstRun, const std::shared_ptr<RunThreadState>& state) {
    bool completed = false;
    try {
        if (firstRun) {
            runLog() << "click start button...";
        }
        std::optional<StageRun> run = prepareRun(firstRun, *state);
        state->preparing->store(false);
        if (run) {
            completed = downloadTest(*run);
        }
    } catch (const std::exception& error) {
        runLog() << "test run stopped before its stages: " << error.what();
        endBeforeStages(*state, "e002");
    } catch (...) {
        runLog() << "test run stopped before its stages";
        endBeforeStages(*state, "e002");
    }
    state->preparing->store(false);
    state->tracker->runEnded(completed);
}

}  // namespace

TestRun::TestRun(TestRunSettings settings, WindowOperations& window,
                 std::shared_ptr<WindowChannel> channel)
    : settings_(std::move(settings)), window_(window), channel_(std::move(channel)) {}

void TestRun::OnBnClickedStart() {
    if (preparing()) {
        return;
    }
    if (platform::readFirstLine(workspace::kVersionStatus) == "1") {
        if (settings_.openAddress) {
            settings_.openAddress(settings_.upgradeAddress);
        }
        if (settings_.endProgram) {
            settings_.endProgram();
        }
        return;
    }
    startRun(Command::Start);
}

void TestRun::OnBnClickedRestart() {
    if (!preparing()) {
        startRun(Command::Restart);
    }
}

bool TestRun::preparing() const {
    return preparing_->load();
}

std::optional<bool> TestRun::waitForRunsToEnd(std::chrono::milliseconds bound) {
    return tracker_->waitUntilIdle(bound);
}

void TestRun::startRun(Command command) {
    const bool firstRun = command == Command::Start;
    preparing_->store(true);
    tracker_->runStarted();
    auto state =
        std::make_shared<RunThreadState>(RunThreadState{settings_, channel_, tracker_, preparing_});
    std::optional<std::thread> thread;
    try {
        thread = settings_.startThread([firstRun, state] { runTest(firstRun, state); });
    } catch (...) {
        // A starter that fails by an exception gives no thread either; the window's thread goes
        // on.
        thread.reset();
    }
    if (!thread) {
        // Without its own thread the test cannot run: it ends as a failed download would, and
        // the buttons come back rather than staying disabled for good.
        if (firstRun) {
            runLog() << "click start button...";
        }
        writeRunFailed("e002");
        static_cast<void>(appendToHistory(historyWithoutStages("e002", std::time(nullptr))));
        resetButtonsAfterRun(window_);
        preparing_->store(false);
        tracker_->runEnded(false);
        return;
    }
    thread->detach();
}

}  // namespace kestova
