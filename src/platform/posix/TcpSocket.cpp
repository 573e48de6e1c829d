#include "platform/TcpSocket.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SocketAddress.h"
#include "platform/posix/SocketWait.h"

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

int openStreamSocket(int family) {
    return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
}

// Closes an open descriptor and marks it closed.
void closeSocket(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
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
        if (!waitForSocket(fd, POLLOUT, nextDeadline())) {
            return IoStatus::TimedOut;
        }
    }
    return IoStatus::Ok;
}

}  // namespace

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

std::optional<TcpSocket> TcpSocket::open(IpFamily family) {
    const int fd = openStreamSocket(family == IpFamily::V6 ? AF_INET6 : AF_INET);
    if (fd < 0) {
        return std::nullopt;
    }
    return TcpSocket(fd);
}

void TcpSocket::closeDescriptor() {
    closeSocket(fd_);
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
    return TcpListener(fd, portOf(address->storage));
}

void TcpListener::closeDescriptor() {
    closeSocket(fd_);
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
