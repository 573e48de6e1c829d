#include "platform/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/posix/SocketWait.h"

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The socket address of an endpoint; nothing when its text is no numeric address.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own shape
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
};

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

// The numeric text of a socket address; an IPv4-mapped IPv6 address in its dotted IPv4 form.
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

int openStreamSocket(int family) {
    return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
}

bool isTemporary(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Sends every byte; each wait for room lasts until the deadline the caller gives for it.
template <typename Deadline>
IoStatus sendUntil(int fd, std::string_view bytes, Deadline nextDeadline) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && !isTemporary(errno)) {
            return IoStatus::Failed;
        }
        if (!waitForSocket(fd, POLLOUT, nextDeadline())) {
            return IoStatus::TimedOut;
        }
    }
    return IoStatus::Ok;
}

}  // namespace

bool isIpv6Address(const std::string& text) {
    in6_addr address{};
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool waitForSocket(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            return true;
        }
    }
}

IpFamily familyOf(const IpEndpoint& endpoint) {
    return endpoint.address.find(':') != std::string::npos ? IpFamily::V6 : IpFamily::V4;
}

std::vector<IpEndpoint> resolveAll(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    std::vector<IpEndpoint> found;
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

std::optional<TcpSocket> TcpSocket::open(IpFamily family) {
    const int fd = openStreamSocket(family == IpFamily::V6 ? AF_INET6 : AF_INET);
    if (fd < 0) {
        return std::nullopt;
    }
    return TcpSocket(fd);
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

void TcpSocket::closeDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

IoStatus TcpSocket::connect(const IpEndpoint& peer, std::chrono::milliseconds timeout) {
    const std::optional<SocketAddress> address = toSocketAddress(peer);
    if (!address) {
        return IoStatus::Failed;
    }
    if (::connect(fd_, address->get(), address->length) == 0) {
        return IoStatus::Ok;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return IoStatus::Failed;
    }
    if (!waitForSocket(fd_, POLLOUT, Clock::now() + timeout)) {
        return IoStatus::TimedOut;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        return IoStatus::Failed;
    }
    return IoStatus::Ok;
}

IoStatus TcpSocket::sendAll(std::string_view bytes, std::chrono::milliseconds idleTimeout) {
    return sendUntil(fd_, bytes, [idleTimeout] { return Clock::now() + idleTimeout; });
}

IoStatus TcpSocket::sendAllBy(std::string_view bytes, Clock::time_point deadline) {
    return sendUntil(fd_, bytes, [deadline] { return deadline; });
}

IoStatus TcpSocket::receiveSome(std::string& out, std::size_t maxBytes,
                                std::chrono::milliseconds idleTimeout) {
    const Clock::time_point deadline = Clock::now() + idleTimeout;
    for (;;) {
        if (!waitForSocket(fd_, POLLIN, deadline)) {
            return IoStatus::TimedOut;
        }
        const std::size_t oldSize = out.size();
        out.resize(oldSize + maxBytes);
        const ssize_t received = ::recv(fd_, out.data() + oldSize, maxBytes, 0);
        out.resize(oldSize + (received > 0 ? static_cast<std::size_t>(received) : 0));
        if (received > 0) {
            return IoStatus::Ok;
        }
        if (received == 0) {
            return IoStatus::Closed;
        }
        if (!isTemporary(errno)) {
            return IoStatus::Failed;
        }
    }
}

void TcpSocket::shutdownSending() {
    ::shutdown(fd_, SHUT_WR);
}

std::string TcpSocket::peerAddress() const {
    SocketAddress address;
    address.length = sizeof address.storage;
    if (::getpeername(fd_, address.get(), &address.length) != 0) {
        return {};
    }
    return addressText(address.storage);
}

std::optional<TcpListener> TcpListener::listenOnLoopback(std::uint16_t port) {
    return listenOn("127.0.0.1", port);
}

std::optional<TcpListener> TcpListener::listenOn(const std::string& addressText,
                                                 std::uint16_t port) {
    std::optional<SocketAddress> address = toSocketAddress(IpEndpoint{addressText, port});
    if (!address) {
        return std::nullopt;
    }
    const int fd = openStreamSocket(address->storage.ss_family);
    if (fd < 0) {
        return std::nullopt;
    }
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (address->storage.ss_family == AF_INET6) {
        // "::" takes IPv4 callers as well, whatever the system's default.
        const int v6Only = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    }
    if (::bind(fd, address->get(), address->length) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, address->get(), &address->length) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::uint16_t bound = 0;
    if (address->storage.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &address->storage, sizeof v6);
        bound = ntohs(v6.sin6_port);
    } else {
        sockaddr_in v4{};
        std::memcpy(&v4, &address->storage, sizeof v4);
        bound = ntohs(v4.sin_port);
    }
    return TcpListener(fd, bound);
}

TcpListener::TcpListener(TcpListener&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), port_(other.port_) {}

TcpListener& TcpListener::operator=(TcpListener&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        port_ = other.port_;
    }
    return *this;
}

TcpListener::~TcpListener() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<TcpSocket> TcpListener::accept(std::chrono::milliseconds timeout) {
    if (!waitForSocket(fd_, POLLIN, Clock::now() + timeout)) {
        return std::nullopt;
    }
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    return TcpSocket(fd);
}

}  // namespace kestova::platform
