#pragma once

#include <chrono>
#include <thread>

namespace kestova::test {

// The tests' one bounded wait on a condition: looks every few milliseconds (or every `spacing`,
// for a condition that is dear to look at, such as one that starts a program) until the
// condition holds or the bound has passed, and says which. A test asserts on the result, never
// sleeps instead.
template <typename Condition>
bool waitUntil(Condition condition,
               std::chrono::milliseconds bound = std::chrono::milliseconds(10000),
               std::chrono::milliseconds spacing = std::chrono::milliseconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(spacing);
    }
}

}  // namespace kestova::test
