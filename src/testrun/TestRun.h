#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "service/NameLookup.h"
#include "service/ServerAssignment.h"
#include "service/ServiceEndpoint.h"
#include "testrun/RunTracker.h"
#include "testrun/TestRunTiming.h"
#include "testrun/UpgradePage.h"
#include "testrun/WindowChannel.h"
#include "testrun/WindowOperations.h"

namespace kestova {

struct TestRunSettings {
    ServiceEndpoint service;
    TestRunTiming timing;
    std::string upgradeAddress = kUpgradePageAddress;
    // How the version gate opens the upgrade page and then ends the program (the program's own
    // orderly end, called on the window's thread).
    std::function<void(const std::string&)> openAddress;
    std::function<void()> endProgram;
    ThreadStarter startThread = startThreadIfPossible;
    ServerAssignmentState* assignments = &serverAssignmentState();
    // How the latency samples find the test service.
    NameResolver lookUpLatencyPeer = platform::resolveAll;
};

// The Start and Restart commands. On the window's thread they apply the version gate and start
// the run's own thread, which does the rest: the address lookup, the server assignment (or, when
// it fails, the wait before the buttons come back), the stages, their checks and the report. The
// run reaches the window only through the channel, so the window's thread never waits for it.
// Contract: the commands are called on the window's thread only; a press while a run is being
// prepared (from the press until its stages start, or its failure has been shown) does nothing.
// preparing and waitForRunsToEnd may be called from any thread. A run's thread is detached and
// holds only shared state (its own settings, the channel, the tracker), so it may outlive this
// object; waitForRunsToEnd lets the program end after it.
class TestRun {
  public:
    TestRun(TestRunSettings settings, WindowOperations& window,
            std::shared_ptr<WindowChannel> channel);

    void OnBnClickedStart();
    void OnBnClickedRestart();

    // True from a press until its run's stages start or its failed assignment has been shown.
    bool preparing() const;

    // Waits at most the bound until no test is under way; then whether the last test completed
    // both stages, or nothing when none has ended or the bound passed first.
    std::optional<bool> waitForRunsToEnd(std::chrono::milliseconds bound);

  private:
    enum class Command { Start, Restart };

    void startRun(Command command);

    TestRunSettings settings_;
    WindowOperations& window_;
    std::shared_ptr<WindowChannel> channel_;
    std::shared_ptr<RunTracker> tracker_ = std::make_shared<RunTracker>();
    std::shared_ptr<std::atomic<bool>> preparing_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace kestova
