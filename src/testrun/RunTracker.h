#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace kestova {

// Knows whether a test run is under way and how the last one ended, for those that wait for a
// run to end (the program without a window, the tests).
// Contract: every member may be called from any thread.
class RunTracker {
  public:
    void runStarted();
    // completed: both stages completed.
    void runEnded(bool completed);

    // Waits at most the bound until no run is under way; then the outcome of the last run that
    // ended, or nothing when none has ended or the bound passed first.
    std::optional<bool> waitUntilIdle(std::chrono::milliseconds bound);

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    int runsUnderWay_ = 0;
    std::optional<bool> lastOutcome_;
};

}  // namespace kestova
