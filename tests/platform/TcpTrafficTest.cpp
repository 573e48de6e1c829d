#include "platform/TcpTraffic.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/WaitUntil.h"

namespace kestova::platform {
namespace {

// A socket descriptor of the test, closed when it ends.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
};

SocketAddress numericAddress(const std::string& text, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    SocketAddress address;
    if (::getaddrinfo(text.c_str(), std::to_string(port).c_str(), &hints, &found) == 0) {
        std::memcpy(&address.storage, found->ai_addr, found->ai_addrlen);
        address.length = found->ai_addrlen;
        ::freeaddrinfo(found);
    }
    return address;
}

std::uint16_t portOf(const SocketAddress& address) {
    if (address.family() == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_port);
}

std::string textOf(const SocketAddress& address) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    const void* bytes =
        address.family() == AF_INET
            ? static_cast<const void*>(
                  &reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_addr)
            : static_cast<const void*>(
                  &reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_addr);
    return ::inet_ntop(address.family(), bytes, text.data(), text.size()) ? text.data() : "";
}

SocketAddress localAddressOf(const Descriptor& socket) {
    SocketAddress address;
    address.length = sizeof address.storage;
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address.storage), &address.length);
    return address;
}

std::uint64_t cookieOf(const Descriptor& socket) {
    std::uint64_t cookie = 0;
    socklen_t length = sizeof cookie;
    ::getsockopt(socket.get(), SOL_SOCKET, SO_COOKIE, &cookie, &length);
    return cookie;
}

// A non-blocking TCP socket of the family; an IPv6 one also reaches IPv4 peers by their mapped
// address.
Descriptor openSocket(int family) {
    Descriptor socket(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (socket.valid() && family == AF_INET6) {
        const int no = 0;
        ::setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
    }
    return socket;
}

struct Listener {
    Descriptor socket;
    std::uint16_t port = 0;
};

// A listener on a free port of the loopback address; nothing when the address is not here.
std::optional<Listener> listenOn(const std::string& address) {
    const SocketAddress where = numericAddress(address, 0);
    Listener listener{openSocket(where.family()), 0};
    if (!listener.socket.valid() ||
        ::bind(listener.socket.get(), reinterpret_cast<const sockaddr*>(&where.storage),
               where.length) != 0 ||
        ::listen(listener.socket.get(), 8) != 0) {
        return std::nullopt;
    }
    listener.port = portOf(localAddressOf(listener.socket));
    return listener;
}

struct Connection {
    Descriptor client;
    Descriptor accepted;
};

// The client connected to the listener at the address and the listener's side of it.
std::optional<Connection> connect(const Listener& listener, const std::string& address) {
    const SocketAddress peer = numericAddress(address, listener.port);
    Connection connection{openSocket(peer.family()), Descriptor()};
    if (!connection.client.valid()) {
        return std::nullopt;
    }
    const int started = ::connect(connection.client.get(),
                                  reinterpret_cast<const sockaddr*>(&peer.storage), peer.length);
    if (started != 0 && errno != EINPROGRESS) {
        return std::nullopt;
    }
    const bool accepted = test::waitUntil([&] {
        connection.accepted = Descriptor(
            ::accept4(listener.socket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        return connection.accepted.valid();
    });
    if (!accepted) {
        return std::nullopt;
    }
    return connection;
}

// Moves count bytes from one end to the other, sending what fits and reading what arrived in
// turns, so that neither end waits on full buffers; false when the connection breaks or stalls.
bool carry(const Descriptor& from, const Descriptor& to, std::size_t count) {
    const std::string chunk(64 * 1024, 'k');
    std::string sink(64 * 1024, '\0');
    std::size_t sent = 0;
    std::size_t arrived = 0;
    bool broken = false;
    const bool carried = test::waitUntil([&] {
        while (sent < count) {
            const ssize_t n = ::send(from.get(), chunk.data(), std::min(chunk.size(), count - sent),
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0) {
                broken = broken || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        for (;;) {
            const ssize_t n = ::recv(to.get(), sink.data(), sink.size(), MSG_DONTWAIT);
            if (n <= 0) {
                broken = broken || n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
                break;
            }
            arrived += static_cast<std::size_t>(n);
        }
        return broken || arrived >= count;
    });
    return carried && !broken && arrived == count;
}

// The connections to the endpoints at this moment; empty when the system could not tell.
std::vector<TcpConnectionBytes> connectionsTo(const std::vector<RemoteEndpoint>& endpoints) {
    return tcpConnectionsTo(endpoints).value_or(std::vector<TcpConnectionBytes>{});
}

const TcpConnectionBytes* connectionWithId(const std::vector<TcpConnectionBytes>& connections,
                                           std::uint64_t id) {
    for (const TcpConnectionBytes& connection : connections) {
        if (connection.id == id) {
            return &connection;
        }
    }
    return nullptr;
}

// How a client reaches a loopback listener, and the text that names the listener's address.
struct Route {
    const char* name;
    const char* listenAddress;
    const char* connectAddress;
    const char* endpointAddress;
};

void PrintTo(const Route& route, std::ostream* out) {
    *out << route.name;
}

class TcpTrafficRoutes : public testing::TestWithParam<Route> {};

// Both ends of one connection, each seen from the other: the client's socket as a connection to
// the listener's endpoint, the accepted socket as a connection to the client's.
TEST_P(TcpTrafficRoutes, CountsWhatEachEndReceivedAndHadAcknowledged) {
    const Route route = GetParam();
    std::optional<Listener> listener = listenOn(route.listenAddress);
    if (!listener && std::string(route.listenAddress) == "::1") {
        GTEST_SKIP() << "this host has no IPv6 loopback address";
    }
    ASSERT_TRUE(listener);
    std::optional<Connection> connection = connect(*listener, route.connectAddress);
    ASSERT_TRUE(connection);
    const SocketAddress client = localAddressOf(connection->client);
    const std::vector<RemoteEndpoint> endpoints = {
        {route.endpointAddress, listener->port},
        {textOf(client), portOf(client)},
    };
    const std::uint64_t clientId = cookieOf(connection->client);
    const std::uint64_t acceptedId = cookieOf(connection->accepted);
    ASSERT_NE(clientId, 0u);
    ASSERT_NE(acceptedId, 0u);

    const std::size_t uploaded = 1024 * 1024 + 123;
    ASSERT_TRUE(carry(connection->client, connection->accepted, uploaded));
    std::vector<TcpConnectionBytes> seen;
    EXPECT_TRUE(test::waitUntil([&] {
        seen = connectionsTo(endpoints);
        const TcpConnectionBytes* ours = connectionWithId(seen, clientId);
        return ours != nullptr && ours->bytesAcked >= uploaded;
    }));
    ASSERT_EQ(seen.size(), 2u);
    const TcpConnectionBytes* ours = connectionWithId(seen, clientId);
    ASSERT_NE(ours, nullptr);
    EXPECT_EQ(ours->endpoint, 0u);
    EXPECT_LT(ours->bytesReceived, uploaded);
    const TcpConnectionBytes* theirs = connectionWithId(seen, acceptedId);
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(theirs->endpoint, 1u);
    EXPECT_GE(theirs->bytesReceived, uploaded);
    EXPECT_LT(theirs->bytesAcked, uploaded);

    const std::size_t downloaded = 300 * 1000 + 7;
    ASSERT_TRUE(carry(connection->accepted, connection->client, downloaded));
    EXPECT_TRUE(test::waitUntil([&] {
        seen = connectionsTo(endpoints);
        ours = connectionWithId(seen, clientId);
        theirs = connectionWithId(seen, acceptedId);
        return ours != nullptr && ours->bytesReceived >= downloaded && theirs != nullptr &&
               theirs->bytesAcked >= downloaded;
    }));
    ASSERT_NE(ours, nullptr);
    ASSERT_NE(theirs, nullptr);
    EXPECT_GE(ours->bytesAcked, uploaded);
    EXPECT_LT(ours->bytesAcked, uploaded + downloaded);
    EXPECT_LT(theirs->bytesReceived, uploaded + downloaded);
}

INSTANTIATE_TEST_SUITE_P(Loopback, TcpTrafficRoutes,
                         testing::Values(Route{"Ipv4", "127.0.0.1", "127.0.0.1", "127.0.0.1"},
                                         Route{"Ipv6", "::1", "::1", "::1"},
                                         Route{"Ipv6InBrackets", "::1", "::1", "[::1]"},
                                         Route{"Ipv4ListenerFromAnIpv6Socket", "127.0.0.1",
                                               "::ffff:127.0.0.1", "127.0.0.1"},
                                         Route{"Ipv4NamedByItsMappedAddress", "127.0.0.1",
                                               "127.0.0.1", "::ffff:127.0.0.1"}),
                         [](const testing::TestParamInfo<Route>& row) {
                             return std::string(row.param.name);
                         });

class TcpTrafficFamilies : public testing::TestWithParam<const char*> {};

// A listener nobody reached is no connection, while another one of the host is busy: the system
// could tell, and there is none.
TEST_P(TcpTrafficFamilies, AnEndpointNobodyIsConnectedToGivesAnEmptyList) {
    const std::string address = GetParam();
    std::optional<Listener> busy = listenOn(address);
    std::optional<Listener> idle = listenOn(address);
    if (!busy && address == "::1") {
        GTEST_SKIP() << "this host has no IPv6 loopback address";
    }
    ASSERT_TRUE(busy && idle);
    std::optional<Connection> connection = connect(*busy, address);
    ASSERT_TRUE(connection);

    const std::optional<std::vector<TcpConnectionBytes>> none =
        tcpConnectionsTo({{address, idle->port}});
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    const std::optional<std::vector<TcpConnectionBytes>> nothingAsked = tcpConnectionsTo({});
    ASSERT_TRUE(nothingAsked);
    EXPECT_TRUE(nothingAsked->empty());
    const std::optional<std::vector<TcpConnectionBytes>> busyOne =
        tcpConnectionsTo({{address, busy->port}});
    ASSERT_TRUE(busyOne);
    ASSERT_EQ(busyOne->size(), 1u);
    EXPECT_EQ(busyOne->front().id, cookieOf(connection->client));
}

INSTANTIATE_TEST_SUITE_P(Loopback, TcpTrafficFamilies, testing::Values("127.0.0.1", "::1"),
                         [](const testing::TestParamInfo<const char*>& row) {
                             return std::string(row.param) == "::1" ? "Ipv6" : "Ipv4";
                         });

// Only a numeric address of the connection's family and its port match it, and an endpoint named
// twice is reported at its first index.
TEST(TcpTraffic, OnlyTheNumericAddressAndPortOfAConnectionMatchIt) {
    std::optional<Listener> busy = listenOn("127.0.0.1");
    std::optional<Listener> idle = listenOn("127.0.0.1");
    ASSERT_TRUE(busy && idle);
    std::optional<Connection> connection = connect(*busy, "127.0.0.1");
    ASSERT_TRUE(connection);
    const std::vector<RemoteEndpoint> endpoints = {
        {"localhost", busy->port}, {"", busy->port},           {"127.0.0.1 ", busy->port},
        {"127.1", busy->port},     {"[127.0.0.1", busy->port}, {"::1", busy->port},
        {"127.0.0.2", busy->port}, {"127.0.0.1", idle->port},  {"127.0.0.1", busy->port},
        {"127.0.0.1", busy->port},
    };
    const std::optional<std::vector<TcpConnectionBytes>> seen = tcpConnectionsTo(endpoints);
    ASSERT_TRUE(seen);
    ASSERT_EQ(seen->size(), 1u);
    EXPECT_EQ(seen->front().id, cookieOf(connection->client));
    EXPECT_EQ(seen->front().endpoint, 8u);
}

}  // namespace
}  // namespace kestova::platform
