// The service reached over IPv6 and IPv4: every address of its host in the resolver's order, an
// address that never answers leaving the others their turn within the connect bound.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/TcpSocket.h"
#include "service/HttpExchange.h"
#include "service/IdleLatency.h"
#include "service/ReplyBody.h"
#include "service/RequestLines.h"
#include "support/RunningTestService.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;

// A listener on ::1 whose queue is full: the kernel drops further connection requests, so a
// connect to it is never answered (a dead address, as an unreachable IPv6 route looks).
class UnansweredIpv6Port {
  public:
    UnansweredIpv6Port() {
        listener_ = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        socklen_t length = sizeof address;
        // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own shape
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
        port_ = ntohs(address.sin6_port);
        // Fill the queue: the first connection waits in it; later ones are not answered.
        for (int k = 0; k < 2; ++k) {
            std::optional<platform::TcpSocket> filler =
                platform::TcpSocket::open(platform::IpFamily::V6);
            if (filler) {
                static_cast<void>(filler->connect({"::1", port_}, 300ms));
                fillers_.push_back(std::move(*filler));
            }
        }
    }
    UnansweredIpv6Port(const UnansweredIpv6Port&) = delete;
    UnansweredIpv6Port& operator=(const UnansweredIpv6Port&) = delete;
    ~UnansweredIpv6Port() { ::close(listener_); }

    std::uint16_t port() const { return port_; }

  private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::vector<platform::TcpSocket> fillers_;
};

struct AddressCase {
    const char* name;
    const char* listenOn;   // where the test service listens
    bool deadIpv6First;     // the resolver gives an unanswered IPv6 address before the service's
    bool literal;           // the service given as its address, looked up by the system
    const char* answering;  // the address that answers, as the service sees its caller too
};

class ServiceAddresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ServiceAddresses, TheExchangeAndTheIdleSamplesReachTheAddressThatAnswers) {
    const AddressCase& c = GetParam();
    testing::RunningTestService service(tools::TestServiceConfig{}, c.listenOn);
    UnansweredIpv6Port dead;
    ASSERT_NE(dead.port(), 0);
    const platform::IpEndpoint live{c.listenOn, service.port()};
    NameResolver resolve = platform::resolveAll;
    if (!c.literal) {
        resolve = [&](const std::string&, std::uint16_t) {
            std::vector<platform::IpEndpoint> addresses;
            if (c.deadIpv6First) {
                addresses.push_back({"::1", dead.port()});
            }
            addresses.push_back(live);
            return addresses;
        };
    }
    ServiceEndpoint endpoint = service.endpoint();
    if (!c.literal) {
        endpoint.host = "speed.example.net";  // only the resolver knows it
    }
    endpoint.connectTimeout = 4s;

    const ExchangeOutcome outcome =
        exchangeWithService(endpoint, requests::kAddressLookup, {}, resolve);
    ASSERT_EQ(outcome.status, ExchangeStatus::Replied) << c.name;
    EXPECT_EQ(outcome.peer, live) << c.name;
    EXPECT_EQ(extractReplyBody(outcome.reply), c.answering) << c.name;

    IdleLatency idle(endpoint.host, endpoint.port, 3, 10ms, 6s, resolve);
    const IdleLatency::Taken taken = idle.finish();
    EXPECT_EQ(taken.peer, live) << c.name;
    ASSERT_FALSE(taken.series.empty()) << c.name;
    for (const std::optional<double>& sample : taken.series) {
        EXPECT_TRUE(sample) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceAddresses,
    ::testing::Values(AddressCase{"ipv6_only", "::1", false, false, "::1"},
                      AddressCase{"ipv4_only", "127.0.0.1", false, false, "127.0.0.1"},
                      AddressCase{"ipv6_dead_then_ipv4", "127.0.0.1", true, false, "127.0.0.1"},
                      AddressCase{"literal_ipv6_service", "::1", false, true, "::1"}),
    [](const auto& param) { return std::string(param.param.name); });

// Not one address answers: the exchange fails to connect within its bound, as before.
TEST(ServiceAddressesAllDead, NoAnswerIsAFailedConnection) {
    UnansweredIpv6Port dead;
    ServiceEndpoint endpoint = *parseServiceEndpoint("speed.example.net");
    endpoint.connectTimeout = 600ms;
    const ExchangeOutcome outcome = exchangeWithService(
        endpoint, requests::kAddressLookup, {}, [&](const std::string&, std::uint16_t) {
            return std::vector<platform::IpEndpoint>{{"::1", dead.port()}, {"::1", dead.port()}};
        });
    EXPECT_EQ(outcome.status, ExchangeStatus::ConnectFailed);
    EXPECT_FALSE(outcome.peer);
}

}  // namespace
}  // namespace kestova
