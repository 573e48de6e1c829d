#include "workspace/StatusFile.h"

#include <mutex>

#include "platform/TextFile.h"

namespace kestova {

namespace {

struct ObserverSlot {
    std::mutex lock;
    StatusWriteObserver observer;
};

// Never destroyed: a stage thread may still write while the program ends.
ObserverSlot& observerSlot() {
    static auto* slot = new ObserverSlot;
    return *slot;
}

}  // namespace

void writeWorkspaceFile(const std::string& path, std::string_view bytes) {
    ObserverSlot& slot = observerSlot();
    const std::lock_guard<std::mutex> guard(slot.lock);
    // A failed write is no news for the test run: the page sees the file unchanged.
    static_cast<void>(platform::writeWholeFile(path, bytes));
    if (slot.observer) {
        slot.observer(path, bytes);
    }
}

void writeStatusFile(const std::string& path, std::string_view value) {
    writeWorkspaceFile(path, value);
}

void observeStatusWrites(StatusWriteObserver observer) {
    ObserverSlot& slot = observerSlot();
    const std::lock_guard<std::mutex> guard(slot.lock);
    slot.observer = std::move(observer);
}

}  // namespace kestova
