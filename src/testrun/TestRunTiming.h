#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <thread>

namespace kestova {

// The fixed pauses of a test and the wait for each command script.
struct TestRunTiming {
    std::chrono::milliseconds stagePause{13000};           // after a stage's workers are joined
    std::chrono::milliseconds uploadPause{16000};          // after a completed upload stage
    std::chrono::milliseconds failedAssignmentWait{2000};  // before the buttons come back
    std::chrono::milliseconds scriptWait{13000};           // for each command script
    // The stage pause is there for late finishers; with this it ends as soon as every script of
    // the stage has ended, at most after stagePause.
    bool pauseEndsWithScripts = false;

    // The probe before each stage that tells the line's rough rate: its run's seconds, and the
    // wait for it, after which it is ended and the installed parameters run.
    int probeSeconds = 2;
    std::chrono::milliseconds probeWait{6000};

    // What a test watches beside its figures: the latency to the test service, idle from Start
    // until the download and under load while a stage's clients run, and the clients' outputs.
    // The idle samples run beside the address lookup and the assignment, which they must not
    // outlast to count: close together, so that most of them fit in that time, and the whole
    // within its bound.
    std::size_t idleLatencySamples = 10;
    std::chrono::milliseconds idleLatencySpacing{25};
    std::chrono::milliseconds idleLatencyBound{2000};
    std::chrono::milliseconds loadedLatencyPeriod{500};
    std::chrono::milliseconds latencyTimeout{2000};  // a connection not open by then is lost
    // Between looks at the running outputs and connections; short enough that when each server's
    // run ended is known well within the quarter second that tells coinciding windows apart.
    std::chrono::milliseconds livePeriod{100};

    // Short pauses, for tests and demonstrations: the stage pause ends once the stage's scripts
    // have, the others are none; the wait for a script stays.
    static TestRunTiming shortPauses() {
        TestRunTiming timing;
        timing.uploadPause = timing.failedAssignmentWait = {};
        timing.pauseEndsWithScripts = true;
        return timing;
    }
};

// Starts a thread running the body; nothing when the system has no thread to give.
using ThreadStarter = std::function<std::optional<std::thread>(std::function<void()>)>;

inline std::optional<std::thread> startThreadIfPossible(std::function<void()> body) {
    try {
        return std::thread(std::move(body));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

}  // namespace kestova
