#include "platform/TcpSocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/SocketAddress.h"
#include "platform/SocketLayer.h"

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
    ASSERT_EQ(client->connect({"127.0.0.1", listener->port()}, 2s), IoStatus::Ok);
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
    EXPECT_EQ(there->connect({"127.0.0.3", listener->port()}, 2s), IoStatus::Ok);
    std::optional<TcpSocket> accepted = listener->accept(2s);
    ASSERT_TRUE(accepted);
    std::optional<TcpSocket> elsewhere = TcpSocket::open();
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->connect({"127.0.0.1", listener->port()}, 2s), IoStatus::Failed);
    for (const char* notAnAddress :
         {"", "localhost", "300.1.2.3", "1.2.3", "[::1]", "1.2.3.4 ", "::g"}) {
        EXPECT_FALSE(TcpListener::listenOn(notAnAddress, 0)) << notAnAddress;
    }
}

// IPv6 on loopback: the listener, the connection and the peer's address text; an IPv4 socket
// does not reach an IPv6 address.
TEST(TcpListener, ListensAndConnectsOverIpv6) {
    std::optional<TcpListener> listener = TcpListener::listenOn("::1", 0);
    ASSERT_TRUE(listener);
    std::optional<TcpSocket> client = TcpSocket::open(familyOf({"::1", 0}));
    ASSERT_TRUE(client);
    EXPECT_EQ(client->connect({"::1", listener->port()}, 2s), IoStatus::Ok);
    std::optional<TcpSocket> accepted = listener->accept(2s);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->peerAddress(), "::1");
    EXPECT_EQ(client->peerAddress(), "::1");
    std::optional<TcpSocket> wrongFamily = TcpSocket::open(IpFamily::V4);
    ASSERT_TRUE(wrongFamily);
    EXPECT_EQ(wrongFamily->connect({"::1", listener->port()}, 2s), IoStatus::Failed);
}

// "::" takes both families; an IPv4 caller is seen under its dotted address.
TEST(TcpListener, TheIpv6WildcardTakesIpv4CallersUnderTheirDottedAddress) {
    std::optional<TcpListener> listener = TcpListener::listenOn("::", 0);
    ASSERT_TRUE(listener);
    std::optional<TcpSocket> client = TcpSocket::open();
    ASSERT_TRUE(client);
    ASSERT_EQ(client->connect({"127.0.0.1", listener->port()}, 2s), IoStatus::Ok);
    std::optional<TcpSocket> accepted = listener->accept(2s);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->peerAddress(), "127.0.0.1");
}

TEST(ResolveAll, GivesEveryAddressOnceInTheResolversOrder) {
    EXPECT_EQ(resolveAll("127.0.0.1", 80), (std::vector<IpEndpoint>{{"127.0.0.1", 80}}));
    EXPECT_EQ(resolveAll("::1", 81), (std::vector<IpEndpoint>{{"::1", 81}}));
    EXPECT_TRUE(resolveAll("no-such-host.invalid", 80).empty());
    const std::vector<IpEndpoint> local = resolveAll("localhost", 82);
    ASSERT_FALSE(local.empty());
    for (std::size_t k = 0; k < local.size(); ++k) {
        EXPECT_EQ(std::count(local.begin(), local.end(), local[k]), 1);
    }
}

// A numeric endpoint becomes a socket address and comes back as the same text and port, an
// IPv4-mapped IPv6 address in its dotted form; a text that is no numeric address becomes none.
struct AddressCase {
    const char* name;
    IpEndpoint endpoint;
    std::optional<IpEndpoint> back;
};

class SocketAddresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(SocketAddresses, GoBackToTheirTextAndPort) {
    const SocketLayer layer;
    ASSERT_TRUE(layer.started());
    const std::optional<SocketAddress> address = toSocketAddress(GetParam().endpoint);
    ASSERT_EQ(address.has_value(), GetParam().back.has_value());
    if (address) {
        EXPECT_EQ((IpEndpoint{addressText(address->storage), portOf(address->storage)}),
                  *GetParam().back);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SocketAddresses,
    ::testing::Values(AddressCase{"ipv4", {"10.0.0.1", 5201}, IpEndpoint{"10.0.0.1", 5201}},
                      AddressCase{"ipv6", {"2001:db8::1", 443}, IpEndpoint{"2001:db8::1", 443}},
                      AddressCase{"ipv6_loopback", {"::1", 65535}, IpEndpoint{"::1", 65535}},
                      AddressCase{
                          "ipv4_mapped", {"::ffff:192.0.2.7", 80}, IpEndpoint{"192.0.2.7", 80}},
                      AddressCase{"port_zero", {"127.0.0.1", 0}, IpEndpoint{"127.0.0.1", 0}},
                      AddressCase{"bracketed", {"[::1]", 80}, std::nullopt},
                      AddressCase{"host_name", {"localhost", 80}, std::nullopt},
                      AddressCase{"empty", {"", 80}, std::nullopt}),
    [](const ::testing::TestParamInfo<AddressCase>& one) { return one.param.name; });

}  // namespace
}  // namespace kestova::platform
