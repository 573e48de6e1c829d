#pragma once

#include <memory>
#include <vector>

#include "iperf/OurIperfServer.h"
#include "service/ServiceEndpoint.h"
#include "testrun/TestMeasures.h"
#include "testrun/TestRunTiming.h"
#include "testrun/WindowChannel.h"

namespace kestova {

// What the second half of one test run works with, fixed when its server assignment succeeded:
// the servers are this run's own copy, so a later assignment cannot change what it measures and
// reports.
struct StageRun {
    std::vector<OurIperfServer> servers;
    ServiceEndpoint service;
    TestRunTiming timing;
    std::shared_ptr<WindowChannel> window;
    ThreadStarter startThread = startThreadIfPossible;
    // What the run measures beside its figures; the stage thread's alone.
    std::shared_ptr<TestMeasures> measures = std::make_shared<TestMeasures>();
    // The idle latency samples started with the test; without them the download takes one.
    std::shared_ptr<IdleLatency> idleLatency = nullptr;
};

// Both stages failed, for the reason the code gives: "-1", "-1" and the code, in that order.
void writeRunFailed(const char* errorCode);

// The second half of a test on its stage thread, one path: downloadTest, checkDownloadResult,
// uploadTest, checkUploadResult, and the end of the run (the history line, resetButtonsAfterRun,
// then logResult), which a failed stage reaches at once. A failure by an exception on the way
// fails the stage it was in and sends no report. Each names the step the path starts from; each
// returns true when both stages completed.
bool downloadTest(const StageRun& run);
bool checkDownloadResult(const StageRun& run);
bool uploadTest(const StageRun& run);
bool checkUploadResult(const StageRun& run);

}  // namespace kestova
