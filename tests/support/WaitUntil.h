#pragma once

#include <chrono>
#include <thread>

namespace kestova::test {

// The tests' one bounded wait on a condition: looks every few milliseconds until the condition
// holds or the bound has passed, and says which. A test asserts on the result, never sleeps
// instead.
template <typename Condition>
bool waitUntil(Condition condition,
               std::chrono::milliseconds bound = std::chrono::milliseconds(10000)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace kestova::test
