// Sockets on Windows: Winsock started for each socket, every wait bounded, against a listener on
// loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpSocket.h"
#include "platform/windows/WinsockVersion.h"

namespace kestova::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kLoopback = "127.0.0.1";

TEST(Winsock, AnExchangeWithAListenerOnLoopback) {
    std::optional<TcpListener> listener = TcpListener::listenOnLoopback(0);
    ASSERT_TRUE(listener);
    ASSERT_NE(listener->port(), 0);
    std::thread peer([&] {
        std::optional<TcpSocket> connection = listener->accept(10s);
        ASSERT_TRUE(connection);
        EXPECT_EQ(connection->peerAddress(), "127.0.0.1");
        std::string request;
        while (request.find("\r\n\r\n") == std::string::npos &&
               connection->receiveSome(request, 4096, 10s) == IoStatus::Ok) {
        }
        EXPECT_EQ(request, "GET / HTTP/1.1\r\n\r\n");
        EXPECT_EQ(connection->sendAll(std::string(100000, 'x'), 10s), IoStatus::Ok);
        connection->shutdownSending();
    });
    std::optional<TcpSocket> socket = TcpSocket::open();
    ASSERT_TRUE(socket);
    ASSERT_EQ(socket->connect({kLoopback, listener->port()}, 10s), IoStatus::Ok);
    EXPECT_EQ(socket->sendAll("GET / HTTP/1.1\r\n\r\n", 10s), IoStatus::Ok);
    std::string reply;
    IoStatus status = IoStatus::Ok;
    while ((status = socket->receiveSome(reply, 65536, 10s)) == IoStatus::Ok) {
    }
    peer.join();
    EXPECT_EQ(status, IoStatus::Closed);
    EXPECT_EQ(reply, std::string(100000, 'x'));
}

TEST(Winsock, ASilentPeerTimesOutWithinTheBound) {
    std::optional<TcpListener> listener = TcpListener::listenOnLoopback(0);
    ASSERT_TRUE(listener);
    std::optional<TcpSocket> socket = TcpSocket::open();
    ASSERT_TRUE(socket);
    ASSERT_EQ(socket->connect({kLoopback, listener->port()}, 10s), IoStatus::Ok);
    constexpr auto kBound = 700ms;
    std::string reply;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(socket->receiveSome(reply, 100, kBound), IoStatus::TimedOut);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, kBound - 20ms);  // select counts in whole timer ticks
    EXPECT_LT(waited, kBound * 5);
}

TEST(Winsock, ARefusedConnectionFailsAndNamesResolve) {
    std::uint16_t closedPort = 0;
    {
        std::optional<TcpListener> listener = TcpListener::listenOnLoopback(0);
        ASSERT_TRUE(listener);
        closedPort = listener->port();
    }
    std::optional<TcpSocket> socket = TcpSocket::open();
    ASSERT_TRUE(socket);
    EXPECT_EQ(socket->connect({kLoopback, closedPort}, 10s), IoStatus::Failed);

    EXPECT_EQ(resolveAll("127.0.0.1", 80), (std::vector<IpEndpoint>{{kLoopback, 80}}));
    EXPECT_EQ(resolveAll("::1", 81), (std::vector<IpEndpoint>{{"::1", 81}}));
    EXPECT_TRUE(resolveAll("no-such-host.invalid", 80).empty());
}

// A socket layer that does not start gives no socket and no name: nothing is sent.
TEST(Winsock, ASocketLayerThatDoesNotStartGivesNoSocket) {
    requestSocketLayerVersion(0);
    EXPECT_FALSE(TcpSocket::open());
    EXPECT_FALSE(TcpListener::listenOnLoopback(0));
    EXPECT_TRUE(resolveAll("127.0.0.1", 80).empty());
    requestSocketLayerVersion(0x0202);
    EXPECT_TRUE(TcpSocket::open());
}

}  // namespace
}  // namespace kestova::platform
