#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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
    // How the version gate opens the upgrade page and ends the program.
    std::function<void(const std::string&)> openAddress;
    std::function<void()> endProgram;
    ThreadStarter startThread = startThreadIfPossible;
    ServerAssignmentState* assignments = &serverAssignmentState();
};

// The Start and Restart commands: on the window's thread they run the first half of a test (the
// version gate, the address lookup, the server assignment) and hand the second half to a stage
// thread of its own, which reaches the window only through the channel.
// Contract: the commands are called on the window's thread only; waitForRunsToEnd from any thread.
class TestRun {
  public:
    TestRun(TestRunSettings settings, WindowOperations& window,
            std::shared_ptr<WindowChannel> channel);

    void OnBnClickedStart();
    void OnBnClickedRestart();

    // Waits at most the bound until no test is under way; then whether the last test completed
    // both stages, or nothing when none has ended or the bound passed first.
    std::optional<bool> waitForRunsToEnd(std::chrono::milliseconds bound);

  private:
    void assignServersAndStart();
    void endWithoutStages(const char* errorCode);

    TestRunSettings settings_;
    WindowOperations& window_;
    std::shared_ptr<WindowChannel> channel_;
    std::shared_ptr<RunTracker> tracker_ = std::make_shared<RunTracker>();
};

}  // namespace kestova
