#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/TcpSocket.h"

namespace kestova {

// The service's addresses, IPv6 and IPv4 in the resolver's order, looked up within the bound;
// none when the name does not resolve in time. The system's lookup cannot be
// interrupted, so it runs on a helper thread of its own; when the bound passes first the caller
// goes on without an address and the helper finishes in the background, its answer dropped.
// Contract: safe from any thread; every call waits at most the bound; a helper that outlives its
// caller touches only state the two share, never the caller's. No thread for the helper counts
// as no address.
using NameResolver =
    std::function<std::vector<platform::IpEndpoint>(const std::string&, std::uint16_t)>;
std::vector<platform::IpEndpoint> resolveWithin(const std::string& host, std::uint16_t port,
                                                std::chrono::milliseconds bound,
                                                const NameResolver& resolve = platform::resolveAll);

}  // namespace kestova
