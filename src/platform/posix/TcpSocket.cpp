#include "platform/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(endpoint.address);
    return address;
}

// Waits for the events until the deadline, retrying after signals. True when they are ready (or
// the socket reports an error, which the following call then sees).
bool waitFor(int fd, short events, Clock::time_point deadline) {
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
        if (!waitFor(fd, POLLOUT, nextDeadline())) {
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

std::optional<Ipv4Endpoint> resolveIpv4(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || results == nullptr) {
        return std::nullopt;
    }
    sockaddr_in first{};
    std::memcpy(&first, results->ai_addr, sizeof first);
    ::freeaddrinfo(results);
    return Ipv4Endpoint{ntohl(first.sin_addr.s_addr), port};
}

std::optional<TcpSocket> TcpSocket::open() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
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

IoStatus TcpSocket::connect(const Ipv4Endpoint& peer, std::chrono::milliseconds timeout) {
    const sockaddr_in address = toSockaddr(peer);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own shape
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return IoStatus::Ok;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return IoStatus::Failed;
    }
    if (!waitFor(fd_, POLLOUT, Clock::now() + timeout)) {
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
        if (!waitFor(fd_, POLLIN, deadline)) {
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
    sockaddr_in address{};
    socklen_t length = sizeof address;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own shape
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

std::optional<TcpListener> TcpListener::listenOnLoopback(std::uint16_t port) {
    return listenOn("127.0.0.1", port);
}

std::optional<TcpListener> TcpListener::listenOn(const std::string& addressText,
                                                 std::uint16_t port) {
    in_addr local{};
    if (::inet_pton(AF_INET, addressText.c_str(), &local) != 1) {
        return std::nullopt;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0) {
        return std::nullopt;
    }
    const int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address = toSockaddr(Ipv4Endpoint{ntohl(local.s_addr), port});
    socklen_t length = sizeof address;
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own shape
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
    return TcpListener(fd, ntohs(address.sin_port));
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
    if (!waitFor(fd_, POLLIN, Clock::now() + timeout)) {
        return std::nullopt;
    }
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    return TcpSocket(fd);
}

}  // namespace kestova::platform
