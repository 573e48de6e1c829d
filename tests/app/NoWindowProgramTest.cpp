// The program itself, without a window, in a program folder of its own made from the build's.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/ProgramUnderTest.h"
#include "platform/ChildProcess.h"
#include "platform/TcpSocket.h"
#include "platform/TextFile.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunningTestService.h"
#include "testrun/UpgradePage.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using testing::freeLoopbackPort;
using testing::IperfServer;
using NoWindowProgram = testing::ProgramUnderTest;

double receiverTotal(const std::string& output) {
    const std::regex total(R"(\[SUM\].*\s([0-9.]+) Mbits/sec\s+receiver)");
    std::smatch match;
    EXPECT_TRUE(std::regex_search(output, match, total)) << output;
    return match.empty() ? -1 : std::stod(match[1]);
}

TEST_F(NoWindowProgram, ACompleteTestAgainstRealIperf3ServersReportsTheirSum) {
    IperfServer first;
    IperfServer second;
    tools::TestServiceConfig config;
    config.servers = {"127.0.0.1:" + std::to_string(first.port()),
                      "127.0.0.1:" + std::to_string(second.port())};
    config.latestVersion = fileBytes(workspace::kLocalVersion);
    testing::RunningTestService service(config);

    EXPECT_EQ(runProgram("--short-pauses --service 127.0.0.1:" + std::to_string(service.port())), 0)
        << fileBytes("runlog.txt");

    const double download = receiverTotal(fileBytes("speedTest/dn_speed_0.txt")) +
                            receiverTotal(fileBytes("speedTest/dn_speed_1.txt"));
    const double upload = receiverTotal(fileBytes("speedTest/up_speed_0.txt")) +
                          receiverTotal(fileBytes("speedTest/up_speed_1.txt"));
    const std::regex summary(
        R"(Server IP=127\.0\.0\.1,127\.0\.0\.1, Server Port=\d+,\d+, downloadResult=([0-9.]+)Mbps, uploadResult=([0-9.]+)Mbps)");
    const std::string final = fileBytes(workspace::kFinal);
    std::smatch figures;
    ASSERT_TRUE(std::regex_match(final, figures, summary)) << final;
    EXPECT_NEAR(std::stod(figures[1]), download, 0.01);
    EXPECT_NEAR(std::stod(figures[2]), upload, 0.01);
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
}

TEST_F(NoWindowProgram, AnUnreachableServiceEndsWithStatusOne) {
    const std::uint16_t closedPort = freeLoopbackPort();
    EXPECT_EQ(runProgram("--short-pauses --service 127.0.0.1:" + std::to_string(closedPort)), 1);
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "2");
}

TEST_F(NoWindowProgram, AFailedStageEndsWithStatusOne) {
    tools::TestServiceConfig config;
    config.servers = {"127.0.0.1:" + std::to_string(freeLoopbackPort())};  // nobody serves there
    config.latestVersion = fileBytes(workspace::kLocalVersion);
    testing::RunningTestService service(config);
    EXPECT_EQ(runProgram("--short-pauses --service 127.0.0.1:" + std::to_string(service.port())),
              1);
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e002");
    EXPECT_NE(fileBytes(workspace::kFinal).find("downloadResult=errorMbps"), std::string::npos);
}

#ifdef KESTOVA_HAS_WINDOW
// The window comes from its module beside the program: it opens and stays until closed.
TEST_F(NoWindowProgram, TheWindowComesFromItsModule) {
    const std::string program = (folder() / "kestova-speedtest").string();
    const std::string service = "--service 127.0.0.1:" + std::to_string(freeLoopbackPort());
    const auto run = [&] {
        const std::string command = "QT_QPA_PLATFORM=offscreen timeout 8 " + program + " " +
                                    service + " > " + (folder() / "window.txt").string() + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run(), 124) << fileBytes("window.txt");  // still open when timeout ended it
    EXPECT_EQ(fileBytes("window.txt").find("cannot be shown"), std::string::npos);

    std::filesystem::remove(folder() / "libkestova-window.so");
    EXPECT_EQ(run(), 2);
    EXPECT_NE(fileBytes("window.txt").find("the window cannot be shown"), std::string::npos);
}
#endif

// The program's exit status, standard output and standard error, each kept apart.
struct Outputs {
    int status = -1;
    std::string out;
    std::string err;
};

Outputs runKeepingOutputs(const std::filesystem::path& folder, const std::string& arguments) {
    const std::string command = "timeout 300 " + (folder / "kestova-speedtest").string() + " " +
                                arguments + " > " + (folder / "out.txt").string() + " 2> " +
                                (folder / "err.txt").string();
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            platform::readWholeFile((folder / "out.txt").string()).value_or(""),
            platform::readWholeFile((folder / "err.txt").string()).value_or("")};
}

TEST_F(NoWindowProgram, HelpAndVersionPrintOnStandardOutputAndEndWithStatusZero) {
    const Outputs help = runKeepingOutputs(folder(), "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    for (const char* shown :
         {"--workdir DIR", "--service HOST[:PORT]", "--no-window", "--short-pauses", "--help",
          "--version", "  0  ", "  1  ", "  2  ", "  3  ", "a newer version is required",
          serviceHost, kUpgradePageAddress}) {
        EXPECT_NE(help.out.find(shown), std::string::npos) << shown << " in\n" << help.out;
    }
    const Outputs version = runKeepingOutputs(folder(), "--no-window --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kestova-speedtest " + fileBytes(workspace::kLocalVersion) + "\n");
    EXPECT_EQ(version.err, "");
}

// A newer version on offer: no test, exit 3, and one line that names both versions.
TEST_F(NoWindowProgram, ARequiredUpgradeEndsWithStatusThreeAndSaysWhich) {
    tools::TestServiceConfig config;
    config.latestVersion = "9.9.9";
    config.reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(config);
    const Outputs run =
        runKeepingOutputs(folder(), "--no-window --short-pauses --service 127.0.0.1:" +
                                        std::to_string(service.port()));
    EXPECT_EQ(run.status, 3);
    const std::string local = fileBytes(workspace::kLocalVersion);
    EXPECT_EQ(run.err, "kestova-speedtest: a newer version is required: this is version " + local +
                           ", the service offers 9.9.9; get it from " +
                           std::string(kUpgradePageAddress) + "\n");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "1");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "0");
    EXPECT_EQ(fileBytes(workspace::kIpAddress), "<missing>");
    EXPECT_EQ(fileBytes("reports.txt"), "<missing>");
}

// SIGINT or SIGTERM in the middle of a test: the program ends its iperf3 clients (which run in
// process groups of their own, so a terminal's signal does not reach them) and exits with 128 +
// the signal's number, without a result report.
TEST_F(NoWindowProgram, ASignalMidTestEndsTheClientsAndSendsNoReport) {
    for (const auto& [signal, expected] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        IperfServer server;
        tools::TestServiceConfig config;
        config.servers = {"127.0.0.1:" + std::to_string(server.port())};
        config.latestVersion = fileBytes(workspace::kLocalVersion);
        config.reportLog = (folder() / "reports.txt").string();
        testing::RunningTestService service(config);
        const int program =
            spawnProgram("--short-pauses --service 127.0.0.1:" + std::to_string(service.port()));
        ASSERT_TRUE(waitUntil([&] { return !testing::iperfClientsOf(server.port()).empty(); }, 30s))
            << fileBytes("runlog.txt");

        ::kill(program, signal);
        const auto start = std::chrono::steady_clock::now();
        // The clients get a second to end on TERM before they are killed.
        EXPECT_EQ(exitStatusOf(program, 10s), std::optional<int>(expected)) << "signal " << signal;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3 * 1s);
        EXPECT_TRUE(testing::iperfClientsOf(server.port()).empty());
        EXPECT_EQ(fileBytes("reports.txt"), "<missing>");
        EXPECT_EQ(fileBytes(workspace::kFinal), "<missing>");
    }
}

TEST_F(NoWindowProgram, BadArgumentsEndWithStatusTwo) {
    EXPECT_EQ(runProgram("--service host:0"), 2);
    EXPECT_EQ(runProgram("--bogus"), 2);
    EXPECT_EQ(runProgram("--workdir /nonexistent/kestova"), 2);
}

}  // namespace
}  // namespace kestova
