#include "platform/TcpSocket.h"

#include <algorithm>
#include <atomic>

#include "platform/SocketAddress.h"
#include "platform/SocketLayer.h"
#include "platform/windows/WinsockVersion.h"

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<unsigned short> requestedVersion{MAKEWORD(2, 2)};

// Windows sockets are kernel handles, whose values have 32 significant bits: an int holds one.
SOCKET toSocket(int fd) {
    return static_cast<SOCKET>(static_cast<unsigned int>(fd));
}
int toDescriptor(SOCKET socket) {
    return static_cast<int>(static_cast<unsigned int>(socket));
}

enum class Readiness { Ready, Failed, TimedOut };

// Waits until the socket can be read (or written) or reports an error, at most until the deadline.
Readiness waitFor(SOCKET socket, bool forWriting, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() < 0) {
        return Readiness::TimedOut;
    }
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    timeval limit{static_cast<long>(left.count() / 1000000),
                  static_cast<long>(left.count() % 1000000)};
    const int count =
        ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &limit);
    if (count == 0) {
        return Readiness::TimedOut;
    }
    if (count < 0 || FD_ISSET(socket, &failed)) {
        return Readiness::Failed;
    }
    return Readiness::Ready;
}

bool makeNonBlocking(SOCKET socket) {
    u_long on = 1;
    return ::ioctlsocket(socket, static_cast<long>(FIONBIO), &on) == 0;
}

// A new non-blocking stream socket of the family that child processes do not inherit.
SOCKET openStreamSocket(int family) {
    const SOCKET socket =
        ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    if (!makeNonBlocking(socket)) {
        ::closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

// A stream socket that holds the socket layer for as long as it is open: a layer that does not
// start means no socket.
SOCKET openSocketWithLayer(int family) {
    WSADATA data;
    if (::WSAStartup(requestedVersion.load(), &data) != 0) {
        return INVALID_SOCKET;
    }
    const SOCKET socket = openStreamSocket(family);
    if (socket == INVALID_SOCKET) {
        ::WSACleanup();
    }
    return socket;
}

// Closes an open socket, lets go of the socket layer it held and marks it closed.
void closeSocket(int& fd) {
    if (fd >= 0) {
        ::closesocket(toSocket(fd));
        ::WSACleanup();
        fd = -1;
    }
}

}  // namespace

void requestSocketLayerVersion(unsigned short version) {
    requestedVersion.store(version);
}

SocketLayer::SocketLayer() {
    WSADATA data;
    started_ = ::WSAStartup(requestedVersion.load(), &data) == 0;
}

SocketLayer::~SocketLayer() {
    if (started_) {
        ::WSACleanup();
    }
}

// Every socket holds the socket layer for as long as it is open: a layer that does not start
// means no socket.
std::optional<TcpSocket> TcpSocket::open(IpFamily family) {
    const SOCKET socket = openSocketWithLayer(family == IpFamily::V6 ? AF_INET6 : AF_INET);
    if (socket == INVALID_SOCKET) {
        return std::nullopt;
    }
    return TcpSocket(toDescriptor(socket));
}

void TcpSocket::closeDescriptor() {
    closeSocket(fd_);
}

IoStatus TcpSocket::connect(const IpEndpoint& peer, std::chrono::milliseconds timeout) {
    const SOCKET socket = toSocket(fd_);
    const std::optional<SocketAddress> address = toSocketAddress(peer);
    if (!address) {
        return IoStatus::Failed;
    }
    if (::connect(socket, address->get(), address->length) == 0) {
        return IoStatus::Ok;
    }
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
        return IoStatus::Failed;
    }
    switch (waitFor(socket, true, Clock::now() + timeout)) {
        case Readiness::TimedOut:
            return IoStatus::TimedOut;
        case Readiness::Failed:
            return IoStatus::Failed;
        case Readiness::Ready:
            break;
    }
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0) {
        return IoStatus::Failed;
    }
    return IoStatus::Ok;
}

namespace {

// Sends every byte; each wait for room lasts until the deadline the caller gives for it.
template <typename Deadline>
IoStatus sendUntil(SOCKET socket, std::string_view bytes, Deadline nextDeadline) {
    while (!bytes.empty()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1u << 20));
        const int sent = ::send(socket, bytes.data(), chunk, 0);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent == SOCKET_ERROR && ::WSAGetLastError() != WSAEWOULDBLOCK) {
            return IoStatus::Failed;
        }
        const Readiness readiness = waitFor(socket, true, nextDeadline());
        if (readiness == Readiness::TimedOut) {
            return IoStatus::TimedOut;
        }
        if (readiness == Readiness::Failed) {
            return IoStatus::Failed;
        }
    }
    return IoStatus::Ok;
}

}  // namespace

IoStatus TcpSocket::sendAll(std::string_view bytes, std::chrono::milliseconds idleTimeout) {
    return sendUntil(toSocket(fd_), bytes, [idleTimeout] { return Clock::now() + idleTimeout; });
}

IoStatus TcpSocket::sendAllBy(std::string_view bytes, Clock::time_point deadline) {
    return sendUntil(toSocket(fd_), bytes, [deadline] { return deadline; });
}

IoStatus TcpSocket::receiveSome(std::string& out, std::size_t maxBytes,
                                std::chrono::milliseconds idleTimeout) {
    const SOCKET socket = toSocket(fd_);
    const Clock::time_point deadline = Clock::now() + idleTimeout;
    for (;;) {
        const Readiness readiness = waitFor(socket, false, deadline);
        if (readiness == Readiness::TimedOut) {
            return IoStatus::TimedOut;
        }
        // A failed socket still reads: recv tells whether the peer closed or the link broke.
        const std::size_t oldSize = out.size();
        const int wanted = static_cast<int>(std::min<std::size_t>(maxBytes, 1u << 20));
        out.resize(oldSize + static_cast<std::size_t>(wanted));
        const int received = ::recv(socket, out.data() + oldSize, wanted, 0);
        out.resize(oldSize + (received > 0 ? static_cast<std::size_t>(received) : 0));
        if (received > 0) {
            return IoStatus::Ok;
        }
        if (received == 0) {
            return IoStatus::Closed;
        }
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            return IoStatus::Failed;
        }
    }
}

void TcpSocket::shutdownSending() {
    ::shutdown(toSocket(fd_), SD_SEND);
}

std::string TcpSocket::peerAddress() const {
    SocketAddress address;
    address.length = sizeof address.storage;
    if (::getpeername(toSocket(fd_), address.get(), &address.length) != 0) {
        return {};
    }
    return addressText(address.storage);
}

std::optional<TcpListener> TcpListener::listenOn(const std::string& addressText,
                                                 std::uint16_t port) {
    const SocketLayer parsing;
    if (!parsing.started()) {
        return std::nullopt;
    }
    std::optional<SocketAddress> address = toSocketAddress(IpEndpoint{addressText, port});
    if (!address) {
        return std::nullopt;
    }
    const SOCKET socket = openSocketWithLayer(address->storage.ss_family);
    if (socket == INVALID_SOCKET) {
        return std::nullopt;
    }
    // No other socket may take the port while this one listens on it.
    const BOOL exclusive = TRUE;
    ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    if (address->storage.ss_family == AF_INET6) {
        // "::" takes IPv4 callers as well.
        const DWORD v6Only = 0;
        ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6Only),
                     sizeof v6Only);
    }
    if (::bind(socket, address->get(), address->length) != 0 || ::listen(socket, SOMAXCONN) != 0 ||
        ::getsockname(socket, address->get(), &address->length) != 0) {
        ::closesocket(socket);
        ::WSACleanup();
        return std::nullopt;
    }
    return TcpListener(toDescriptor(socket), portOf(address->storage));
}

void TcpListener::closeDescriptor() {
    closeSocket(fd_);
}

std::optional<TcpSocket> TcpListener::accept(std::chrono::milliseconds timeout) {
    const SOCKET listening = toSocket(fd_);
    if (waitFor(listening, false, Clock::now() + timeout) != Readiness::Ready) {
        return std::nullopt;
    }
    WSADATA data;
    if (::WSAStartup(requestedVersion.load(), &data) != 0) {
        return std::nullopt;
    }
    const SOCKET socket = ::accept(listening, nullptr, nullptr);
    if (socket == INVALID_SOCKET || !makeNonBlocking(socket)) {
        if (socket != INVALID_SOCKET) {
            ::closesocket(socket);
        }
        ::WSACleanup();
        return std::nullopt;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return TcpSocket(toDescriptor(socket));
}

}  // namespace kestova::platform
