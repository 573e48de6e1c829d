#include "iperf/ScriptStart.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "platform/TextFile.h"
#include "workspace/RunLog.h"

namespace kestova::iperf {

namespace {

struct ObserverSlot {
    std::mutex lock;
    OutputMadeObserver observer;
};

// Never destroyed: a worker may still start a script while the program ends.
ObserverSlot& observerSlot() {
    static auto* slot = new ObserverSlot;
    return *slot;
}

void tellObserver(const std::string& outputPath) {
    ObserverSlot& slot = observerSlot();
    OutputMadeObserver observer;
    {
        const std::lock_guard<std::mutex> guard(slot.lock);
        observer = slot.observer;
    }
    if (observer) {
        observer(outputPath);
    }
}

}  // namespace

std::optional<platform::ChildProcess> startScriptWritingInto(const std::string& scriptPath,
                                                             const std::string& outputPath) {
    const std::optional<platform::FileIdentity> made = platform::createFreshFile(outputPath);
    if (!made) {
        runLog() << "the output " << outputPath << " could not be made: its script does not run";
        return std::nullopt;
    }
    tellObserver(outputPath);
    if (!platform::nameStandsFor(outputPath, *made)) {
        runLog() << "the output " << outputPath
                 << " was replaced before its script started: the script does not run";
        return std::nullopt;
    }
    return platform::ChildProcess::startShellScript(scriptPath);
}

void observeOutputsMade(OutputMadeObserver observer) {
    ObserverSlot& slot = observerSlot();
    const std::lock_guard<std::mutex> guard(slot.lock);
    slot.observer = std::move(observer);
}

namespace {

// A run turned away (iperf3 says "the server is busy running a test" on its standard error, which
// the script does not keep) leaves an output without a single interval.
bool measuredNothing(const std::string& outputPath) {
    for (const std::string& line : platform::readLines(outputPath)) {
        if (line.find(" sec ") != std::string::npos ||
            line.find("iperf Done.") != std::string::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace

ScriptRun runScriptUntilServed(const std::string& scriptPath, const std::string& outputPath,
                               std::chrono::milliseconds wait) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point first = Clock::now();
    const Clock::time_point end = first + wait;
    for (;;) {
        std::optional<platform::ChildProcess> script =
            startScriptWritingInto(scriptPath, outputPath);
        if (!script) {
            return ScriptRun::NotStarted;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(end - Clock::now(), Clock::duration::zero()));
        if (!script->waitForExit(left)) {
            return ScriptRun::StillRunning;
        }
        const auto pause = std::chrono::milliseconds(250);
        if (!measuredNothing(outputPath) || Clock::now() + pause >= first + kBusyServerBound ||
            Clock::now() + pause >= end) {
            return ScriptRun::Ended;
        }
        runLog() << outputPath
                 << " measured nothing (its server may still be closing a test): trying again";
        std::this_thread::sleep_for(pause);
    }
}

}  // namespace kestova::iperf
