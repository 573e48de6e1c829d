#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/TcpSocket.h"
#include "service/HttpExchange.h"
#include "service/ReplyBody.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunningTestService.h"
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

// The program itself: it says where it listens, answers there, and ends on SIGTERM.
TEST(TestServiceProgram, ListensAnswersAndStopsOnRequest) {
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string program = KESTOVA_TEST_SERVICE_BINARY;
    std::string portOption = "--port";
    std::string anyPort = "0";
    char* argv[] = {program.data(), portOption.data(), anyPort.data(), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);

    FILE* lines = ::fdopen(output[0], "r");
    char first[128] = {};
    ASSERT_NE(std::fgets(first, sizeof first, lines), nullptr);
    const std::string line = first;
    const std::string prefix = "kestova-test-service listening on 127.0.0.1:";
    ASSERT_EQ(line.substr(0, prefix.size()), prefix);
    const ServiceEndpoint endpoint =
        *parseServiceEndpoint("127.0.0.1:" + std::to_string(std::stoi(line.substr(prefix.size()))));
    EXPECT_EQ(bodyOf(endpoint, "GET /speedtest25g/speedtest/check_pc_client_version.jsp HTTP/1.1"),
              "1.0.0");

    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    std::fclose(lines);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(TestServiceProgram, RejectsUnknownOptions) {
    const std::string command = std::string(KESTOVA_TEST_SERVICE_BINARY) + " --bogus x 2>/dev/null";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace kestova::tools
