#pragma once

#include <chrono>
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

    // No pauses, for tests and demonstrations; the wait for a script stays.
    static TestRunTiming shortPauses() {
        TestRunTiming timing;
        timing.stagePause = timing.uploadPause = timing.failedAssignmentWait = {};
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
