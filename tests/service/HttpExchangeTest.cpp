#include "service/HttpExchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/TcpSocket.h"
#include "tools/scripted_service/ScriptedService.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using tools::ScriptedService;
using tools::ScriptStep;

ServiceEndpoint endpointOn(std::uint16_t port) {
    ServiceEndpoint endpoint = *parseServiceEndpoint("127.0.0.1:" + std::to_string(port));
    endpoint.connectTimeout = 2s;
    endpoint.receiveIdleTimeout = 2s;
    return endpoint;
}

const std::string kHeader = "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n";

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
    endpoint.receiveIdleTimeout = 60s;
    const ExchangeOutcome outcome = exchangeWithService(endpoint, "GET / HTTP/1.1");
    EXPECT_EQ(outcome.reply, kHeader + "1.2.3.4");
}

TEST(HttpExchange, ASilentServiceGivesAnEmptyReplyWithinTheBound) {
    ScriptedService service({ScriptStep::hang()});
    ServiceEndpoint endpoint = endpointOn(service.port());
    endpoint.receiveIdleTimeout = 300ms;
    const ExchangeOutcome outcome = exchangeWithService(endpoint, "GET / HTTP/1.1");
    EXPECT_EQ(outcome.status, ExchangeStatus::Replied);
    EXPECT_EQ(outcome.reply, "");
}

TEST(HttpExchange, AServiceThatStopsMidReplyGivesWhatArrived) {
    ScriptedService service({ScriptStep::send(kHeader + "1.2"), ScriptStep::hang()});
    ServiceEndpoint endpoint = endpointOn(service.port());
    endpoint.receiveIdleTimeout = 300ms;
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
