#include "iperf/ScriptStart.h"

#include <mutex>

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

}  // namespace kestova::iperf
