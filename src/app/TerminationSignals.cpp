#include "app/TerminationSignals.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/ChildProcess.h"

namespace kestova {

namespace {

// The signal handler may only touch a lock-free atomic.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void noteTerminationSignal(int signal) {
    receivedSignal.store(signal);
}

[[noreturn]] void endAfter(int signal) {
    // A stage may start its scripts while the earlier ones end: end until none is left.
    for (int round = 0; round < 3 && platform::endRunningScripts() > 0; ++round) {
    }
    std::_Exit(128 + signal);
}

void watchForTerminationSignals() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (const int signal = receivedSignal.load(); signal != 0) {
            endAfter(signal);
        }
    }
}

}  // namespace

void endProgramOnTerminationSignals() {
    try {
        std::thread(watchForTerminationSignals).detach();
    } catch (const std::system_error&) {
        return;
    }
    std::signal(SIGINT, noteTerminationSignal);
    std::signal(SIGTERM, noteTerminationSignal);
}

}  // namespace kestova
