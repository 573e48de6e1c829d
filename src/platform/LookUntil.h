#pragma once

#include <chrono>
#include <thread>

namespace kestova::platform {

// Looks until the look says yes or the bound has passed, pausing between looks; the last look
// comes at or after the bound, so a yes that arrives just in time is seen. True when it said yes.
// The look runs on the caller's thread; it takes whatever lock it needs for each look itself.
template <typename Look>
bool lookUntil(std::chrono::milliseconds bound, std::chrono::milliseconds pause, Look look) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (look()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(pause);
    }
}

}  // namespace kestova::platform
