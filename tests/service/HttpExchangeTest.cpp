#include "service/HttpExchange.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpSocket.h"
#include "service/NameLookup.h"
#include "support/WaitUntil.h"
#include "tools/scripted_service/ScriptedService.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using tools::ScriptedService;
using tools::ScriptStep;

ServiceEndpoint endpointOn(std::uint16_t port) {
    ServiceEndpoint endpoint = *parseServiceEndpoint("127.0.0.1:" + std::to_string(port));
    endpoint.connectTimeout = 2s;
    endpoint.exchangeTimeout = 2s;
    return endpoint;
}

const std::string kHeader = "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n";

using Clock = std::chrono::steady_clock;

// How long the call took, in multiples of the bound it was given.
template <typename Call>
double elapsedInBounds(std::chrono::milliseconds bound, Call call) {
    const Clock::time_point start = Clock::now();
    call();
    return std::chrono::duration<double>(Clock::now() - start) / bound;
}

TEST(HttpExchange, RequestBytesAreExact) {
    EXPECT_EQ(buildRequestText("GET /speedtest/test-ip.jsp HTTP/1.1", "speedtest.kestova.example"),
              "GET /speedtest/test-ip.jsp HTTP/1.1\r\nHost: speedtest.kestova.example\r\n"
              "Connection: close\r\n\r\n");
}

TEST(HttpExchange, SendsTheRequestAndReadsTheReply) {
    ScriptedService service({ScriptStep::send(kHeader + "1.2.3.4")});
    const ExchangeOutcome outcome =
        exchangeWithService(endpointOn(service.port()), "GET /speedtest/test-ip.jsp HTTP/1.1");
    EXPECT_EQ(outcome.status, ExchangeStatus::Replied);
    EXPECT_EQ(outcome.reply, kHeader + "1.2.3.4");
    ASSERT_EQ(service.requests().size(), 1U);
    EXPECT_EQ(service.requests()[0],
              buildRequestText("GET /speedtest/test-ip.jsp HTTP/1.1",
                               "127.0.0.1:" + std::to_string(service.port())));
}

TEST(HttpExchange, AReplyInPiecesComesWhole) {
    ScriptedService service(
        {ScriptStep::send(kHeader), ScriptStep::wait(300ms), ScriptStep::send("1.2.3.4")});
    const ExchangeOutcome outcome =
        exchangeWithService(endpointOn(service.port()), "GET / HTTP/1.1");
    EXPECT_EQ(outcome.reply, kHeader + "1.2.3.4");
}

// The announced body being complete ends the reading; the service's silence afterwards costs
// nothing, and bytes past the body are not waited for.
TEST(HttpExchange, ACompleteBodyEndsTheReadingWithoutWaitingForTheClose) {
    ScriptedService service({ScriptStep::send(kHeader + "1.2.3.4"), ScriptStep::hang()});
    ServiceEndpoint endpoint = endpointOn(service.port());
    endpoint.exchangeTimeout = 60s;
    const ExchangeOutcome outcome = exchangeWithService(endpoint, "GET / HTTP/1.1");
    EXPECT_EQ(outcome.reply, kHeader + "1.2.3.4");
}

TEST(HttpExchange, ASilentServiceGivesAnEmptyReplyWithinTheBound) {
    ScriptedService service({ScriptStep::hang()});
    ServiceEndpoint endpoint = endpointOn(service.port());
    endpoint.exchangeTimeout = 300ms;
    ExchangeOutcome outcome;
    const double took = elapsedInBounds(endpoint.exchangeTimeout, [&] {
        outcome = exchangeWithService(endpoint, "GET / HTTP/1.1");
    });
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 3.0);
    EXPECT_EQ(outcome.status, ExchangeStatus::Replied);
    EXPECT_EQ(outcome.reply, "");
}

// One deadline for the whole exchange: a service that sends a byte every 0.3 s, each well inside
// the bound, is cut at the bound and gives what had arrived, as a reply cut short.
TEST(HttpExchange, ATricklingServiceIsCutAtTheExchangeDeadline) {
    const std::string reply = kHeader + "1.2.3.4" + std::string(200, ' ');
    ScriptedService service({ScriptStep::trickle(reply, 300ms)});
    ServiceEndpoint endpoint = endpointOn(service.port());
    endpoint.exchangeTimeout = 1s;
    ExchangeOutcome outcome;
    const double took = elapsedInBounds(endpoint.exchangeTimeout, [&] {
        outcome = exchangeWithService(endpoint, "GET / HTTP/1.1");
    });
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 2.0);
    EXPECT_EQ(outcome.status, ExchangeStatus::Replied);
    EXPECT_FALSE(outcome.reply.empty());
    EXPECT_LT(outcome.reply.size(), 10U);
    EXPECT_EQ(outcome.reply, reply.substr(0, outcome.reply.size()));
}

// A silent service costs one bound, not one per step.
TEST(HttpExchange, ASilentServiceAfterPartOfItsReplyEndsAtTheDeadline) {
    ScriptedService service({ScriptStep::send("HTTP/1.1 200 OK\r\n"), ScriptStep::wait(600ms),
                             ScriptStep::send("Content-Length: 7\r\n"), ScriptStep::hang()});
    ServiceEndpoint endpoint = endpointOn(service.port());
    endpoint.exchangeTimeout = 1s;
    std::string reply;
    const double took = elapsedInBounds(endpoint.exchangeTimeout, [&] {
        reply = exchangeWithService(endpoint, "GET / HTTP/1.1").reply;
    });
    EXPECT_LT(took, 1.6);
    EXPECT_EQ(reply, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n");
}

// A name lookup that does not end gives "host not found" within the bound; the late answer is
// dropped and its helper finishes without harm.
TEST(HttpExchange, ANameLookupIsBounded) {
    // A lookup that takes 1.5 s: its helper runs on after the bound and says when it has ended.
    auto helperEnded = std::make_shared<std::atomic<bool>>(false);
    const auto slowResolver = [helperEnded](const std::string&, std::uint16_t port) {
        std::this_thread::sleep_for(1500ms);  // slow on purpose: the lookup the bound cuts off
        helperEnded->store(true);
        return std::vector<platform::IpEndpoint>{{"127.0.0.1", port}};
    };
    std::vector<platform::IpEndpoint> address;
    const double took = elapsedInBounds(
        300ms, [&] { address = resolveWithin("slow.example", 80, 300ms, slowResolver); });
    EXPECT_TRUE(address.empty());
    EXPECT_LT(took, 2.0);
    const auto quickResolver = [](const std::string&, std::uint16_t port) {
        return std::vector<platform::IpEndpoint>{{"::1", port}, {"127.0.0.1", port}};
    };
    EXPECT_EQ(resolveWithin("quick.example", 81, 5s, quickResolver),
              (std::vector<platform::IpEndpoint>{{"::1", 81}, {"127.0.0.1", 81}}));
    const std::vector<platform::IpEndpoint> local = resolveWithin("127.0.0.1", 82, 5s);
    EXPECT_EQ(local, (std::vector<platform::IpEndpoint>{{"127.0.0.1", 82}}));
    // Let the slow helper end inside the test, so that the sanitizers see its whole life.
    EXPECT_TRUE(test::waitUntil([&] { return helperEnded->load(); }, 10s));
}

TEST(HttpExchange, AServiceThatStopsMidReplyGivesWhatArrived) {
    ScriptedService service({ScriptStep::send(kHeader + "1.2"), ScriptStep::hang()});
    ServiceEndpoint endpoint = endpointOn(service.port());
    endpoint.exchangeTimeout = 300ms;
    EXPECT_EQ(exchangeWithService(endpoint, "GET / HTTP/1.1").reply, kHeader + "1.2");
}

TEST(HttpExchange, AReplyCutByTheClosedConnectionGivesWhatArrived) {
    ScriptedService service({ScriptStep::send("HTTP/1.1 200 OK\r\nContent-Le")});
    EXPECT_EQ(exchangeWithService(endpointOn(service.port()), "GET / HTTP/1.1").reply,
              "HTTP/1.1 200 OK\r\nContent-Le");
}

TEST(HttpExchange, AVeryLongReplyIsCutAtTheCapacity) {
    const std::string body(30000, 'x');
    ScriptedService service(
        {ScriptStep::send("HTTP/1.1 200 OK\r\nContent-Length: 30000\r\n\r\n" + body)});
    const ExchangeOutcome outcome =
        exchangeWithService(endpointOn(service.port()), "GET / HTTP/1.1");
    EXPECT_EQ(outcome.reply.size(), kReplyCapacity);
}

TEST(HttpExchange, TheReplyEndsAtItsFirstZeroByte) {
    ScriptedService service({ScriptStep::send(std::string("HTTP/1.1 200 OK\r\n\0junk", 22))});
    EXPECT_EQ(exchangeWithService(endpointOn(service.port()), "GET / HTTP/1.1").reply,
              "HTTP/1.1 200 OK\r\n");
}

TEST(HttpExchange, ALongRequestArrivesWhole) {
    const std::string requestLine = "GET /x?" + std::string(20000, 'q') + " HTTP/1.1";
    ScriptedService service({ScriptStep::send(kHeader + "1.2.3.4")});
    const ServiceEndpoint endpoint = endpointOn(service.port());
    exchangeWithService(endpoint, requestLine);
    ASSERT_EQ(service.requests().size(), 1U);
    EXPECT_EQ(service.requests()[0], buildRequestText(requestLine, endpoint.hostHeader));
}

TEST(HttpExchange, AClosedPortFailsToConnect) {
    std::uint16_t closedPort = 0;
    {
        std::optional<platform::TcpListener> probe = platform::TcpListener::listenOnLoopback(0);
        ASSERT_TRUE(probe);
        closedPort = probe->port();
    }
    std::vector<std::string> progress;
    const ExchangeOutcome outcome = exchangeWithService(
        endpointOn(closedPort), "GET / HTTP/1.1",
        {[&] { progress.push_back("host found"); }, [&] { progress.push_back("connected"); }});
    EXPECT_EQ(outcome.status, ExchangeStatus::ConnectFailed);
    EXPECT_EQ(progress, std::vector<std::string>{"host found"});
}

TEST(HttpExchange, AnInvalidNameIsNotFound) {
    ServiceEndpoint endpoint = endpointOn(80);
    endpoint.host = "no-such-host.invalid";
    bool hostFound = false;
    const ExchangeOutcome outcome =
        exchangeWithService(endpoint, "GET / HTTP/1.1", {[&] { hostFound = true; }, {}});
    EXPECT_EQ(outcome.status, ExchangeStatus::HostNotFound);
    EXPECT_FALSE(hostFound);
}

TEST(HttpExchange, ProgressIsReportedInOrderWhenConnected) {
    ScriptedService service({ScriptStep::send(kHeader + "1.2.3.4")});
    std::vector<std::string> progress;
    exchangeWithService(
        endpointOn(service.port()), "GET / HTTP/1.1",
        {[&] { progress.push_back("host found"); }, [&] { progress.push_back("connected"); }});
    EXPECT_EQ(progress, (std::vector<std::string>{"host found", "connected"}));
}

}  // namespace
}  // namespace kestova
