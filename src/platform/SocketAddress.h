#pragma once

// What both platforms' TCP sockets share: numeric addresses to socket addresses and back. Only the
// platform's own files include this header, for it brings the system's socket headers along.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <optional>
#include <string>

#include "platform/TcpSocket.h"

namespace kestova::platform {

// The socket address of an endpoint, in the shape the socket calls take it.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own shape
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
};

// Nothing when the endpoint's text is no numeric address. On Windows the caller holds the socket
// layer.
std::optional<SocketAddress> toSocketAddress(const IpEndpoint& endpoint);

// The numeric text of a socket address; an IPv4-mapped IPv6 address in its dotted IPv4 form; the
// empty text for a family that is neither.
std::string addressText(const sockaddr_storage& storage);

// The port of an IPv4 or IPv6 socket address.
std::uint16_t portOf(const sockaddr_storage& storage);

}  // namespace kestova::platform
