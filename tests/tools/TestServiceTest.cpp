#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpSocket.h"
#include "service/HttpExchange.h"
#include "service/ReplyBody.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunningTestService.h"
#include "support/WaitUntil.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "tools/test_service/TestServiceLoop.h"

namespace kestova::tools {
namespace {

using namespace std::chrono_literals;

std::string bodyOf(const ServiceEndpoint& endpoint, const std::string& requestLine) {
    const ExchangeOutcome outcome = exchangeWithService(endpoint, requestLine);
    EXPECT_EQ(outcome.status, ExchangeStatus::Replied);
    return extractReplyBody(outcome.reply);
}

using TestService = testing::ProgramFolderTest;

// True once the one IPv4 connection to the local port has carried every byte its client sent
// and the serving program has read them all: the client's side has nothing left unacknowledged
// and the service's side nothing left unread (the kernel's own queues, from /proc/net/tcp).
bool everyByteReadBy(std::uint16_t port) {
    const auto portOf = [](const std::string& address) {  // "0100007F:1F90"
        return static_cast<std::uint16_t>(
            std::stoul(address.substr(address.find(':') + 1), nullptr, 16));
    };
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    bool clientDone = false;
    bool serviceDone = false;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        if (state != "01" || queues.size() != 17) {  // established; "tx_queue:rx_queue"
            continue;
        }
        const bool sendQueueEmpty = std::stoul(queues.substr(0, 8), nullptr, 16) == 0;
        const bool receiveQueueEmpty = std::stoul(queues.substr(9), nullptr, 16) == 0;
        clientDone = clientDone || (portOf(remote) == port && sendQueueEmpty);
        serviceDone = serviceDone || (portOf(local) == port && receiveQueueEmpty);
    }
    return clientDone && serviceDone;
}

TEST_F(TestService, AnswersTheFourRequests) {
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service({{"127.0.0.1:5201", "127.0.0.1:5202"}, "2.5.1", reportLog});
    const ServiceEndpoint endpoint = service.endpoint();

    EXPECT_EQ(bodyOf(endpoint, "GET /speedtest25g/speedtest/check_pc_client_version.jsp HTTP/1.1"),
              "2.5.1");
    EXPECT_EQ(bodyOf(endpoint, "GET /speedtest/test-ip.jsp HTTP/1.1"), "127.0.0.1");
    EXPECT_EQ(bodyOf(endpoint, "GET /speedtest25g/speedtest/request_process_dynamic.jsp HTTP/1.1"),
              "resultCode=0,ipAddress=127.0.0.1,port=5201,ipAddress=127.0.0.1,port=5202,");
    const std::string query =
        "ipAddress=127.0.0.1,127.0.0.1&port=5201,5202&downloadResult=1878.50&uploadResult=940.25"
        "&platform=Win";
    EXPECT_EQ(bodyOf(endpoint,
                     "GET /speedtest25g/speedtest/log_result_dynamic.jsp?" + query + " HTTP/1.1"),
              "OK");
    EXPECT_EQ(
        bodyOf(endpoint, "GET /speedtest25g/speedtest/log_result_dynamic.jsp?second HTTP/1.1"),
        "OK");
    EXPECT_EQ(fileBytes(reportLog), query + "\nsecond\n");

    const ExchangeOutcome unknown = exchangeWithService(endpoint, "GET /other HTTP/1.1");
    EXPECT_EQ(unknown.reply.substr(0, 22), "HTTP/1.1 404 Not Found");
}

using Clock = std::chrono::steady_clock;

platform::TcpSocket connectedTo(std::uint16_t port) {
    std::optional<platform::TcpSocket> socket = platform::TcpSocket::open();
    EXPECT_TRUE(socket);
    EXPECT_EQ(socket->connect({"127.0.0.1", port}, 2s), platform::IoStatus::Ok);
    return std::move(*socket);
}

// How long, in multiples of the bound, until the service closes the connection unanswered.
double boundsUntilDropped(platform::TcpSocket& socket, std::chrono::milliseconds bound,
                          Clock::time_point since) {
    std::string received;
    while (socket.receiveSome(received, 4096, 30s) == platform::IoStatus::Ok) {
    }
    EXPECT_EQ(received, "");
    return std::chrono::duration<double>(Clock::now() - since) / bound;
}

// A client that never sends, or trickles its request, holds the service no longer than the bound;
// then the next client is answered.
TEST(TestServiceConnections, AreBoundedAsAWhole) {
    TestServiceConfig config;
    config.connectionBound = 500ms;
    testing::RunningTestService service(config);

    const Clock::time_point silentSince = Clock::now();
    platform::TcpSocket silent = connectedTo(service.port());
    const double silentTook = boundsUntilDropped(silent, config.connectionBound, silentSince);
    EXPECT_GE(silentTook, 0.9);
    EXPECT_LT(silentTook, 3.0);

    const Clock::time_point trickleSince = Clock::now();
    platform::TcpSocket trickler = connectedTo(service.port());
    const std::string request = "GET /speedtest/test-ip.jsp HTTP/1.1\r\n\r\n";
    // A byte every 100 ms, until the service has gone away: this client is slow on purpose, and
    // its pauses are what the service's bound is tested against.
    for (std::size_t i = 0; i < request.size(); ++i) {
        if (trickler.sendAll(request.substr(i, 1), 1s) != platform::IoStatus::Ok) {
            break;
        }
        std::this_thread::sleep_for(100ms);
    }
    const double trickleTook = boundsUntilDropped(trickler, config.connectionBound, trickleSince);
    EXPECT_LT(trickleTook, 3.0);

    EXPECT_EQ(bodyOf(service.endpoint(), "GET /speedtest/test-ip.jsp HTTP/1.1"), "127.0.0.1");
}

// Stop is honoured within a fifth of a second, also in the middle of a connection.
TEST(TestServiceConnections, StopIsHonouredWithinAFifthOfASecond) {
    TestServiceConfig config;
    config.connectionBound = 60s;
    auto service = std::make_unique<testing::RunningTestService>(config);
    platform::TcpSocket silent = connectedTo(service->port());
    ASSERT_EQ(silent.sendAll("GET /speedtest/test-ip.jsp HT", 1s), platform::IoStatus::Ok);
    // The service has taken the connection and read the half request: it waits for the rest.
    ASSERT_TRUE(test::waitUntil([&] { return everyByteReadBy(service->port()); }, 10s));
    const Clock::time_point stopAt = Clock::now();
    service.reset();
    EXPECT_LT(Clock::now() - stopAt, 200ms);
}

// A request target with control characters is refused and never reaches the report log, where it
// could forge lines or drive the terminal of whoever reads it.
TEST_F(TestService, ControlCharactersInTheTargetGetBadRequestAndAreNotLogged) {
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service({{}, "1.0.0", reportLog});
    for (const std::string forged : {"a\x1b[2Jb", "a\nforged=1", "a\tb", "a\x7f", "a\rb"}) {
        const ExchangeOutcome outcome = exchangeWithService(
            service.endpoint(),
            "GET /speedtest25g/speedtest/log_result_dynamic.jsp?" + forged + " HTTP/1.1");
        EXPECT_EQ(outcome.reply.substr(0, 24), "HTTP/1.1 400 Bad Request") << forged;
    }
    EXPECT_EQ(fileBytes(reportLog), "<missing>");
    EXPECT_EQ(bodyOf(service.endpoint(),
                     "GET /speedtest25g/speedtest/log_result_dynamic.jsp?plain=1 HTTP/1.1"),
              "OK");
    EXPECT_EQ(fileBytes(reportLog), "plain=1\n");
}

TEST(TestServiceAnswers, WithoutServersTheAssignmentIsRefused) {
    EXPECT_EQ(assignmentBody({}), "resultCode=1,");
}

TEST(TestServiceAnswers, ServerListsAreCheckedWhenRead) {
    EXPECT_EQ(parseServerList("127.0.0.1:5201,localhost:5202"),
              (std::vector<std::string>{"127.0.0.1:5201", "localhost:5202"}));
    EXPECT_EQ(parseServerList(""), std::vector<std::string>{});
    for (const char* bad : {"127.0.0.1", ":5201", "127.0.0.1:", "a:1,,b:2"}) {
        EXPECT_FALSE(parseServerList(bad)) << bad;
    }
}

// The test service program, started with the options given, and the first line it printed.
class TestServiceProcess {
  public:
    explicit TestServiceProcess(std::vector<std::string> arguments) {
        int output[2];
        EXPECT_EQ(::pipe(output), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        arguments.insert(arguments.begin(), KESTOVA_TEST_SERVICE_BINARY);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&child_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(output[1]);
        lines_ = ::fdopen(output[0], "r");
        char first[128] = {};
        if (std::fgets(first, sizeof first, lines_) != nullptr) {
            firstLine_ = first;
        }
    }
    TestServiceProcess(const TestServiceProcess&) = delete;
    TestServiceProcess& operator=(const TestServiceProcess&) = delete;
    ~TestServiceProcess() {
        if (child_ > 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        std::fclose(lines_);
    }

    const std::string& firstLine() const { return firstLine_; }

    // Asks it to stop with SIGTERM; its exit status, or -1 when it did not exit normally.
    int stop() {
        ::kill(child_, SIGTERM);
        int status = 0;
        EXPECT_EQ(::waitpid(child_, &status, 0), child_);
        child_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t child_ = -1;
    FILE* lines_ = nullptr;
    std::string firstLine_;
};

// The endpoint that a "listening on ADDRESS:PORT" line names, when the line starts as expected.
std::optional<ServiceEndpoint> announcedEndpoint(const std::string& line,
                                                 const std::string& address) {
    const std::string prefix = "kestova-test-service listening on " + address + ":";
    if (line.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    return parseServiceEndpoint(address + ":" +
                                std::to_string(std::stoi(line.substr(prefix.size()))));
}

// The program itself: it says where it listens, answers there, and ends on SIGTERM.
TEST(TestServiceProgram, ListensAnswersAndStopsOnRequest) {
    TestServiceProcess program({"--port", "0"});
    const std::optional<ServiceEndpoint> endpoint =
        announcedEndpoint(program.firstLine(), "127.0.0.1");
    ASSERT_TRUE(endpoint) << program.firstLine();
    EXPECT_EQ(bodyOf(*endpoint, "GET /speedtest25g/speedtest/check_pc_client_version.jsp HTTP/1.1"),
              "1.0.0");
    EXPECT_EQ(program.stop(), 0);
}

// --listen puts it on another address (one of the loopback network's, here), and only there.
TEST(TestServiceProgram, ListensOnTheAddressGiven) {
    TestServiceProcess program({"--listen", "127.0.0.2", "--latest-version", "2.0.0"});
    const std::optional<ServiceEndpoint> endpoint =
        announcedEndpoint(program.firstLine(), "127.0.0.2");
    ASSERT_TRUE(endpoint) << program.firstLine();
    EXPECT_EQ(bodyOf(*endpoint, "GET /speedtest25g/speedtest/check_pc_client_version.jsp HTTP/1.1"),
              "2.0.0");
    EXPECT_EQ(bodyOf(*endpoint, "GET /speedtest/test-ip.jsp HTTP/1.1"), "127.0.0.1");
    ServiceEndpoint elsewhere = *endpoint;
    elsewhere.host = "127.0.0.1";
    EXPECT_EQ(exchangeWithService(elsewhere, "GET / HTTP/1.1").status,
              ExchangeStatus::ConnectFailed);
    EXPECT_EQ(program.stop(), 0);
}

TEST(TestServiceProgram, RefusesAnAddressThatIsNone) {
    const std::string command =
        std::string(KESTOVA_TEST_SERVICE_BINARY) + " --listen 300.1.2.3 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(TestServiceProgram, RejectsUnknownOptions) {
    const std::string command = std::string(KESTOVA_TEST_SERVICE_BINARY) + " --bogus x 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace kestova::tools
