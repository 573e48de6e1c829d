#include "app/TerminationSignals.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <thread>

#include "app/ExitStatus.h"
#include "platform/ChildProcess.h"

namespace kestova {

namespace {

// The signal handler may only touch a lock-free atomic.
std::atomic<int> receivedSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<bool> mainReturned{false};

// The handler that std::terminate ran before ours: it says what went wrong and aborts.
std::terminate_handler earlierTerminateHandler = nullptr;

extern "C" void noteTerminationSignal(int signal) {
    receivedSignal.store(signal);
}

[[noreturn]] void endAfter(int signal) {
    platform::endRunningScriptsForGood();
    std::_Exit(exitStatusOnSignal(signal));
}

void watchForTerminationSignals() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (const int signal = receivedSignal.load(); signal != 0) {
            endAfter(signal);
        }
    }
}

extern "C" void endScriptsAtExit() {
    if (mainReturned.load()) {
        return;
    }
    platform::endRunningScriptsForGood();
    std::_Exit(kExitFailed);
}

[[noreturn]] void endScriptsThenTerminate() {
    platform::endRunningScriptsForGood();
    if (earlierTerminateHandler != nullptr) {
        earlierTerminateHandler();
    }
    std::abort();
}

void noteTerminationSignals() {
    std::signal(SIGINT, noteTerminationSignal);
    std::signal(SIGTERM, noteTerminationSignal);
#ifdef SIGHUP
    if (std::signal(SIGHUP, noteTerminationSignal) == SIG_IGN) {
        std::signal(SIGHUP, SIG_IGN);
    }
#endif
#ifdef SIGQUIT
    std::signal(SIGQUIT, noteTerminationSignal);
#endif
}

}  // namespace

void endScriptsAtEveryEnd() {
    earlierTerminateHandler = std::set_terminate(endScriptsThenTerminate);
    std::atexit(endScriptsAtExit);
    try {
        std::thread(watchForTerminationSignals).detach();
    } catch (const std::system_error&) {
        return;
    }
    noteTerminationSignals();
}

void mainHasEnded() {
    mainReturned.store(true);
}

}  // namespace kestova
