#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/TcpSocket.h"
#include "service/ConnectLatency.h"
#include "service/IdleLatency.h"
#include "service/ServiceEndpoint.h"
#include "testrun/TestRunTiming.h"

namespace kestova {

// How many servers a stage ran and how many of their outputs completed, "<completed>/<run>".
struct ServerCount {
    std::size_t completed = 0;
    std::size_t run = 0;

    std::string text() const { return std::to_string(completed) + "/" + std::to_string(run); }
};

// What a test measures beside its two figures: the latency to the test service idle and under
// load, and how many servers each stage counted; the stages fill it in as they go, the history
// line reads it when the test has ended.
// Contract: used by the test's stage thread only.
struct TestMeasures {
    std::optional<platform::IpEndpoint> service;  // where the latency samples connect
    LatencyFigures idle;
    LatencyFigures download;
    LatencyFigures upload;
    std::optional<ServerCount> downloadServers;
    std::optional<ServerCount> uploadServers;
    // How long the probes before the stages took: the pause after the upload is that much
    // shorter, so that a whole test takes no longer for them.
    std::chrono::milliseconds probing{0};
};

// Writes speedTest/latency.txt whole: the lines "idle", "download" and "upload".
void writeLatencyFile(const TestMeasures& measures);

// Empties both stages' live and server files and the latency figures, so that the page shows
// nothing of an earlier test. Called before the download status says the test is under way.
void forgetEarlierMeasures();

// The idle latency samples of a test, started at once.
std::shared_ptr<IdleLatency> startIdleLatency(const ServiceEndpoint& service,
                                              const TestRunTiming& timing,
                                              const NameResolver& lookUpService);

// Just before the download stage's first iperf3: forgets the earlier measures, ends the idle
// samples (those of the test's start when given, else the first two now) and writes the latency
// file.
void takeIdleLatency(TestMeasures& measures, IdleLatency* started, const ServiceEndpoint& service,
                     const TestRunTiming& timing);

}  // namespace kestova
