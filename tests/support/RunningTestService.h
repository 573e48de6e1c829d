#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/TcpSocket.h"
#include "platform/TlsChannel.h"
#include "service/ServiceEndpoint.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "tools/test_service/TestServiceLoop.h"

namespace kestova::testing {

// The local test service's loop on a thread of the test, on a free loopback port (IPv4, or the
// address given, "::1" for IPv6), until the object ends.
class RunningTestService {
  public:
    // With an identity, it serves https.
    explicit RunningTestService(tools::TestServiceConfig config, std::string address = "127.0.0.1",
                                const platform::TlsServerIdentity* tls = nullptr)
        : config_(std::move(config)),
          address_(std::move(address)),
          https_(tls != nullptr),
          listener_(*platform::TcpListener::listenOn(address_, 0)),
          thread_([this, tls] { tools::serveUntilStopped(listener_, config_, stop_, tls); }) {}
    RunningTestService(const RunningTestService&) = delete;
    RunningTestService& operator=(const RunningTestService&) = delete;
    ~RunningTestService() {
        stop_.store(true);
        thread_.join();
    }

    std::uint16_t port() const { return listener_.port(); }
    // The service as --service takes it: "127.0.0.1:PORT", "[::1]:PORT", "https://...".
    std::string text() const {
        const bool ipv6 = address_.find(':') != std::string::npos;
        return std::string(https_ ? "https://" : "") + (ipv6 ? "[" + address_ + "]" : address_) +
               ":" + std::to_string(listener_.port());
    }
    ServiceEndpoint endpoint() const { return *parseServiceEndpoint(text()); }

  private:
    tools::TestServiceConfig config_;
    std::string address_;
    bool https_ = false;
    platform::TcpListener listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kestova::testing
