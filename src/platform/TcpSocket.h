#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestova::platform {

// An IPv4 or IPv6 address in numeric form ("10.0.0.1", "2001:db8::1", no brackets) and a port,
// so that callers need no socket headers.
struct IpEndpoint {
    std::string address;
    std::uint16_t port = 0;

    bool operator==(const IpEndpoint&) const = default;
};

enum class IpFamily { V4, V6 };

// V6 for an IPv6 address text, else V4.
IpFamily familyOf(const IpEndpoint& endpoint);

// Every address of the host, IPv6 and IPv4, in the resolver's order, each once (getaddrinfo, safe
// from any thread); none when the name does not resolve.
std::vector<IpEndpoint> resolveAll(const std::string& host, std::uint16_t port);

// True when the text is an IPv6 address in numeric form ("::1", "2001:db8::1"), no brackets.
bool isIpv6Address(const std::string& text);

enum class IoStatus { Ok, TimedOut, Closed, Failed };

// A TCP socket in non-blocking mode whose every wait is bounded by the caller's time-out.
// Contract: one owner uses it from one thread at a time; it closes itself when destroyed and is
// never inherited by child processes (close-on-exec). Sending never raises SIGPIPE.
class TcpSocket {
  public:
    // A new, unconnected stream socket of the family; nothing when the system refuses one.
    static std::optional<TcpSocket> open(IpFamily family = IpFamily::V4);

    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    ~TcpSocket();

    // Ok once connected; TimedOut when the peer did not answer in time; Failed when refused (or
    // the peer is of the other family, or no address).
    IoStatus connect(const IpEndpoint& peer, std::chrono::milliseconds timeout);

    // Sends every byte, looping over partial sends; gives up when no byte can be sent for the
    // whole time-out (TimedOut) or the connection breaks (Failed).
    IoStatus sendAll(std::string_view bytes, std::chrono::milliseconds idleTimeout);

    // Sends every byte before the deadline; TimedOut when it passes first, however the peer
    // paces its reading, or Failed when the connection breaks.
    IoStatus sendAllBy(std::string_view bytes, std::chrono::steady_clock::time_point deadline);

    // Waits up to the time-out for bytes and appends what arrived, at most maxBytes, to out.
    // Closed when the peer has finished sending.
    IoStatus receiveSome(std::string& out, std::size_t maxBytes,
                         std::chrono::milliseconds idleTimeout);

    // Stops sending (the peer reads the end of the stream) while still able to receive.
    void shutdownSending();

    // The peer's address in numeric form (an IPv4 peer of an IPv6 socket in dotted form), or the
    // empty text when unknown.
    std::string peerAddress() const;

  private:
    friend class TcpListener;
    friend struct TlsSocketAccess;
    explicit TcpSocket(int descriptor) : fd_(descriptor) {}
    void closeDescriptor();

    int fd_ = -1;
};

// A listening socket for the local test service and the tests' stand-ins: on 127.0.0.1, or on a
// given IPv4 or IPv6 address.
class TcpListener {
  public:
    // Port 0 picks a free port; nothing when the port cannot be bound.
    static std::optional<TcpListener> listenOnLoopback(std::uint16_t port);
    // The same on the address in numeric form ("10.0.0.1", "0.0.0.0", "::1", "::"; "::" takes
    // IPv4 callers too where the system allows); nothing when the text is no such address or the
    // address and port cannot be bound.
    static std::optional<TcpListener> listenOn(const std::string& address, std::uint16_t port);

    TcpListener(TcpListener&& other) noexcept;
    TcpListener& operator=(TcpListener&& other) noexcept;
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    ~TcpListener();

    std::uint16_t port() const { return port_; }

    // The next connection, or nothing when none came within the time-out.
    std::optional<TcpSocket> accept(std::chrono::milliseconds timeout);

  private:
    TcpListener(int descriptor, std::uint16_t port) : fd_(descriptor), port_(port) {}
    void closeDescriptor();

    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace kestova::platform
