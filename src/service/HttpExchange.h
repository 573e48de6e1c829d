#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/TcpSocket.h"
#include "service/NameLookup.h"
#include "service/ServiceEndpoint.h"

namespace kestova {

// The largest reply an exchange keeps; the rest is never read.
inline constexpr std::size_t kReplyCapacity = 10000;

enum class ExchangeStatus {
    SocketLayerNotStarted,  // the system's socket layer did not start: nothing was sent
    SocketFailed,           // no socket could be made: nothing was sent
    HostNotFound,           // the service's name did not resolve
    ConnectFailed,          // refused, or no answer within the connect time-out
    Replied,  // connected and sent; the reply text holds what came back (maybe nothing)
};

struct ExchangeOutcome {
    ExchangeStatus status = ExchangeStatus::SocketFailed;
    std::string reply;
    // The service's address that answered, once connected.
    std::optional<platform::IpEndpoint> peer;
};

// Hooks for callers that record the progress of an exchange as it happens.
struct ExchangeProgress {
    std::function<void()> hostFound;  // after the name resolved, before connecting
    std::function<void()> connected;  // after connecting, before the request is sent
};

// The request bytes: the request line, the Host header, "Connection: close" and the empty line.
std::string buildRequestText(std::string_view requestLine, std::string_view hostHeader);

// One GET exchange over a fresh connection to the first of the service's addresses (IPv6 and
// IPv4, in the resolver's order) that answers within the connect time-out. The whole request is
// sent; the reply is read until the service closes the connection, the reply reaches kReplyCapacity
// bytes, or the body that the header announces is complete, and it ends at its first zero byte. The
// name lookup and the connection are each bounded by the endpoint's time-outs; from the moment the
// connection stands, sending and receiving end within its exchange time-out as a whole: a silent or
// trickling service yields what had arrived by then, possibly nothing.
ExchangeOutcome exchangeWithService(const ServiceEndpoint& endpoint, std::string_view requestLine,
                                    const ExchangeProgress& progress = {},
                                    const NameResolver& resolve = platform::resolveAll);

}  // namespace kestova
