#include "platform/TcpSocket.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/SocketAddress.h"
#include "platform/SocketLayer.h"

// What TcpSocket and TcpListener do alike on both platforms; posix/ and windows/ hold only the
// system calls that differ.

namespace kestova::platform {

std::optional<SocketAddress> toSocketAddress(const IpEndpoint& endpoint) {
    SocketAddress result;
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET, endpoint.address.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(endpoint.port);
        std::memcpy(&result.storage, &v4, sizeof v4);
        result.length = sizeof v4;
    } else if (::inet_pton(AF_INET6, endpoint.address.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(endpoint.port);
        std::memcpy(&result.storage, &v6, sizeof v6);
        result.length = sizeof v6;
    } else {
        return std::nullopt;
    }
    return result;
}

std::string addressText(const sockaddr_storage& storage) {
    char text[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &storage, sizeof v4);
        return ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text) ? text : "";
    }
    if (storage.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &storage, sizeof v6);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            return ::inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text) ? text : "";
        }
        return ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text) ? text : "";
    }
    return {};
}

std::uint16_t portOf(const sockaddr_storage& storage) {
    if (storage.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &storage, sizeof v6);
        return ntohs(v6.sin6_port);
    }
    sockaddr_in v4{};
    std::memcpy(&v4, &storage, sizeof v4);
    return ntohs(v4.sin_port);
}

bool isIpv6Address(const std::string& text) {
    const SocketLayer parsing;
    in6_addr address{};
    return parsing.started() && ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

IpFamily familyOf(const IpEndpoint& endpoint) {
    return endpoint.address.find(':') != std::string::npos ? IpFamily::V6 : IpFamily::V4;
}

std::vector<IpEndpoint> resolveAll(const std::string& host, std::uint16_t port) {
    std::vector<IpEndpoint> found;
    const SocketLayer layer;
    if (!layer.started()) {
        return found;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0) {
        return found;
    }
    for (const addrinfo* entry = results; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) {
            continue;
        }
        sockaddr_storage storage{};
        std::memcpy(&storage, entry->ai_addr,
                    std::min<std::size_t>(entry->ai_addrlen, sizeof storage));
        IpEndpoint endpoint{addressText(storage), port};
        if (!endpoint.address.empty() &&
            std::find(found.begin(), found.end(), endpoint) == found.end()) {
            found.push_back(std::move(endpoint));
        }
    }
    ::freeaddrinfo(results);
    return found;
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        closeDescriptor();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

TcpSocket::~TcpSocket() {
    closeDescriptor();
}

std::optional<TcpListener> TcpListener::listenOnLoopback(std::uint16_t port) {
    return listenOn("127.0.0.1", port);
}

TcpListener::TcpListener(TcpListener&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), port_(other.port_) {}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept {
    if (this != &other) {
        closeDescriptor();
        fd_ = std::exchange(other.fd_, -1);
        port_ = other.port_;
    }
    return *this;
}

TcpListener::~TcpListener() {
    closeDescriptor();
}

}  // namespace kestova::platform
