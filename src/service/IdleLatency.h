#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/TcpSocket.h"
#include "service/ConnectLatency.h"
#include "service/NameLookup.h"

namespace kestova {

// The latency at rest: the connect time to the test service, sampled on a thread of its own from
// when it is made (at Start, while the address lookup and the assignment run), so that it never
// delays the download. The whole, the service's name lookup included, ends by the bound.
// Contract: made and finished on one thread (the run's). finish() returns by the bound after the
// making at the latest. The sampling thread holds only what it shares with this object, so that
// it may end on its own after the object has gone; it only looks the peer up, connects to it and
// keeps the series.
class IdleLatency {
  public:
    struct Taken {
        // The service's address that answered, when one did in time.
        std::optional<platform::IpEndpoint> peer;
        LatencySeries series;
    };

    IdleLatency(std::string host, std::uint16_t port, std::size_t count,
                std::chrono::milliseconds spacing, std::chrono::milliseconds bound,
                NameResolver resolve = platform::resolveAll);
    IdleLatency(const IdleLatency&) = delete;
    IdleLatency& operator=(const IdleLatency&) = delete;
    ~IdleLatency();

    // Ends the sampling before the line is loaded: the sample under way, or the first two when
    // fewer have been taken, are waited for, within the bound; what was not taken by then is
    // missing.
    Taken finish();

    struct Shared;

  private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace kestova
