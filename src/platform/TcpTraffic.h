#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestova::platform {

// A remote end of TCP connections: a numeric IPv4 or IPv6 address text ("10.0.0.1", "::1",
// "2001:db8::1"; brackets around it are allowed and ignored) and a port. An IPv4 address and its
// IPv4-mapped IPv6 form (::ffff:10.0.0.1) name the same end.
struct RemoteEndpoint {
    std::string address;
    std::uint16_t port = 0;
};

// One connection's counts as the kernel keeps them.
struct TcpConnectionBytes {
    std::uint64_t id = 0;      // the socket's cookie: the same for as long as the socket lives
    std::size_t endpoint = 0;  // index of the endpoint asked for that it is connected to
    std::uint64_t bytesReceived = 0;  // payload bytes that arrived from the peer
    std::uint64_t bytesAcked = 0;     // payload bytes sent that the peer has acknowledged
    // Bytes sent that the peer holds beyond a gap (selectively acknowledged segments times the
    // segment size): they have arrived, but are acknowledged in full only once the gap is filled.
    std::uint64_t bytesSacked = 0;
};

// Every TCP connection of this host (any process, this network namespace) whose remote end is one
// of the endpoints, with the kernel's counts; when an endpoint is named twice, the first index.
// A closed socket drops out of the list, so a caller that adds up keeps the largest count seen per
// id. An endpoint whose address is not numeric matches nothing. Nothing when the system cannot
// tell (no socket diagnostics, Windows, or no complete answer within a second).
std::optional<std::vector<TcpConnectionBytes>> tcpConnectionsTo(
    const std::vector<RemoteEndpoint>& endpoints);

}  // namespace kestova::platform
