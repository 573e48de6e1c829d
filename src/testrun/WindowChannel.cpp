#include "testrun/WindowChannel.h"

#include <utility>

namespace kestova {

WindowChannel::WindowChannel(WindowOperations& window, Dispatcher dispatcher)
    : window_(&window), dispatcher_(std::move(dispatcher)) {}

void WindowChannel::post(std::function<void(WindowOperations&)> work) {
    // Dispatching under the lock: close() cannot finish while a post may still reach the window.
    const std::lock_guard<std::recursive_mutex> guard(lock_);
    if (window_ == nullptr) {
        return;
    }
    dispatcher_([self = shared_from_this(), work = std::move(work)] { self->runIfOpen(work); });
}

void WindowChannel::close() {
    const std::lock_guard<std::recursive_mutex> guard(lock_);
    window_ = nullptr;
}

void WindowChannel::runIfOpen(const std::function<void(WindowOperations&)>& work) {
    const std::lock_guard<std::recursive_mutex> guard(lock_);
    if (window_ != nullptr) {
        work(*window_);
    }
}

WindowChannel::Dispatcher runAtOnce() {
    return [](std::function<void()> work) { work(); };
}

}  // namespace kestova
