#include "platform/TcpSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

namespace kestova::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A peer that never reads: sending more than the buffers hold ends at the deadline, not later.
TEST(TcpSocket, SendingEndsAtTheDeadlineWhenThePeerDoesNotRead) {
    std::optional<TcpListener> listener = TcpListener::listenOnLoopback(0);
    ASSERT_TRUE(listener);
    std::optional<TcpSocket> client = TcpSocket::open();
    ASSERT_TRUE(client);
    ASSERT_EQ(client->connect({0x7f000001, listener->port()}, 2s), IoStatus::Ok);
    std::optional<TcpSocket> peer = listener->accept(2s);
    ASSERT_TRUE(peer);
    const std::string bytes(64 * 1024 * 1024, 'x');
    const auto bound = 300ms;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(client->sendAllBy(bytes, start + bound), IoStatus::TimedOut);
    const double took = std::chrono::duration<double>(Clock::now() - start) / bound;
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 3.0);
}

TEST(TcpListener, ListensOnTheAddressGivenOnly) {
    std::optional<TcpListener> listener = TcpListener::listenOn("127.0.0.3", 0);
    ASSERT_TRUE(listener);
    std::optional<TcpSocket> there = TcpSocket::open();
    ASSERT_TRUE(there);
    EXPECT_EQ(there->connect({0x7f000003, listener->port()}, 2s), IoStatus::Ok);
    std::optional<TcpSocket> accepted = listener->accept(2s);
    ASSERT_TRUE(accepted);
    std::optional<TcpSocket> elsewhere = TcpSocket::open();
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->connect({0x7f000001, listener->port()}, 2s), IoStatus::Failed);
    for (const char* notAnAddress : {"", "localhost", "300.1.2.3", "1.2.3", "::1", "1.2.3.4 "}) {
        EXPECT_FALSE(TcpListener::listenOn(notAnAddress, 0)) << notAnAddress;
    }
}

}  // namespace
}  // namespace kestova::platform
