#include "testrun/RunTracker.h"

namespace kestova {

void RunTracker::runStarted() {
    const std::lock_guard<std::mutex> guard(lock_);
    ++runsUnderWay_;
}

void RunTracker::runEnded(bool completed) {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (runsUnderWay_ > 0) {
            --runsUnderWay_;
        }
        lastOutcome_ = completed;
    }
    changed_.notify_all();
}

std::optional<bool> RunTracker::waitUntilIdle(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> guard(lock_);
    if (!changed_.wait_for(guard, bound, [this] { return runsUnderWay_ == 0; })) {
        return std::nullopt;
    }
    return lastOutcome_;
}

}  // namespace kestova
