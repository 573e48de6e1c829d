#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/TcpSocket.h"

namespace kestova {

// The service's IPv4 address, looked up within the bound. The system's lookup cannot be
// interrupted, so it runs on a helper thread of its own; when the bound passes first the caller
// goes on without an address and the helper finishes in the background, its answer dropped.
// Contract: safe from any thread; every call waits at most the bound; a helper that outlives its
// caller touches only state the two share, never the caller's. No thread for the helper counts
// as no address.
using NameResolver =
    std::function<std::optional<platform::Ipv4Endpoint>(const std::string&, std::uint16_t)>;
std::optional<platform::Ipv4Endpoint> resolveWithin(
    const std::string& host, std::uint16_t port, std::chrono::milliseconds bound,
    const NameResolver& resolve = platform::resolveIpv4);

}  // namespace kestova
