#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/TcpSocket.h"
#include "service/ServiceEndpoint.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "tools/test_service/TestServiceLoop.h"

namespace kestova::testing {

// The local test service's loop on a thread of the test, on a free loopback port, until the
// object ends.
class RunningTestService {
  public:
    explicit RunningTestService(tools::TestServiceConfig config)
        : config_(std::move(config)),
          listener_(*platform::TcpListener::listenOnLoopback(0)),
          thread_([this] { tools::serveUntilStopped(listener_, config_, stop_); }) {}
    RunningTestService(const RunningTestService&) = delete;
    RunningTestService& operator=(const RunningTestService&) = delete;
    ~RunningTestService() {
        stop_.store(true);
        thread_.join();
    }

    std::uint16_t port() const { return listener_.port(); }
    ServiceEndpoint endpoint() const {
        return *parseServiceEndpoint("127.0.0.1:" + std::to_string(listener_.port()));
    }

  private:
    tools::TestServiceConfig config_;
    platform::TcpListener listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kestova::testing
