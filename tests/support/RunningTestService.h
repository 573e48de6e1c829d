#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/TcpSocket.h"
#include "service/ServiceEndpoint.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "tools/test_service/TestServiceLoop.h"

namespace kestova::testing {

// The local test service's loop on a thread of the test, on a free loopback port (IPv4, or the
// address given, "::1" for IPv6), until the object ends.
class RunningTestService {
  public:
    explicit RunningTestService(tools::TestServiceConfig config, std::string address = "127.0.0.1")
        : config_(std::move(config)),
          address_(std::move(address)),
          listener_(*platform::TcpListener::listenOn(address_, 0)),
          thread_([this] { tools::serveUntilStopped(listener_, config_, stop_); }) {}
    RunningTestService(const RunningTestService&) = delete;
    RunningTestService& operator=(const RunningTestService&) = delete;
    ~RunningTestService() {
        stop_.store(true);
        thread_.join();
    }

    std::uint16_t port() const { return listener_.port(); }
    // The service as --service takes it: "127.0.0.1:PORT" or "[::1]:PORT".
    std::string text() const {
        const bool ipv6 = address_.find(':') != std::string::npos;
        return (ipv6 ? "[" + address_ + "]" : address_) + ":" + std::to_string(listener_.port());
    }
    ServiceEndpoint endpoint() const { return *parseServiceEndpoint(text()); }

  private:
    tools::TestServiceConfig config_;
    std::string address_;
    platform::TcpListener listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kestova::testing
