#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "testrun/WindowOperations.h"

namespace kestova {

// How a test's stage thread reaches the window without ever touching a window that has gone.
// Contract: post() may be called from any thread; the work runs on the window's thread (the
// dispatcher takes it there), whole, with the window. close() is called on the window's thread
// before the window goes away; work posted or still queued after it is dropped. The channel is
// shared: the stage thread keeps it alive after the window has gone.
class WindowChannel : public std::enable_shared_from_this<WindowChannel> {
  public:
    // Runs a piece of work on the window's thread, later; it may drop it when the window is gone.
    using Dispatcher = std::function<void(std::function<void()>)>;

    WindowChannel(WindowOperations& window, Dispatcher dispatcher);

    void post(std::function<void(WindowOperations&)> work);
    void close();

  private:
    void runIfOpen(const std::function<void(WindowOperations&)>& work);

    // Recursive: a dispatcher that runs the work at once re-enters the channel on the same thread.
    std::recursive_mutex lock_;
    WindowOperations* window_;
    Dispatcher dispatcher_;
};

// A dispatcher for a window without an event loop of its own: the work runs at once on the
// calling thread, under the channel's lock.
WindowChannel::Dispatcher runAtOnce();

}  // namespace kestova
