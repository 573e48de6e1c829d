// Faults a customer's machine may meet, each in a program folder of its own, with the program run
// as a user runs it: every run must end by itself with the outcome a user would expect.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ProgramUnderTest.h"
#include "support/RunningTestService.h"
#include "support/StandInIperf.h"
#include "tools/scripted_service/ScriptedService.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using tools::ScriptedService;
using tools::ScriptStep;

class Faults : public testing::ProgramUnderTest {
  protected:
    void SetUp() override {
        ProgramUnderTest::SetUp();
        config_.latestVersion = fileBytes(workspace::kLocalVersion);
        for (const std::string& port : testing::kRecordedPorts) {
            config_.servers.push_back("127.0.0.1:" + port);
        }
    }

    void useStandInIperf() { testing::installStandInIperf(); }

    static std::string serviceOption(std::uint16_t port) {
        return "--short-pauses --service 127.0.0.1:" + std::to_string(port);
    }

    // The outcome a user sees: the program's exit status and the status files.
    std::string outcome(int status) const {
        return "exit " + std::to_string(status) + ", dn " + fileBytes(workspace::kDownloadStatus) +
               ", up " + fileBytes(workspace::kUploadStatus) + ", error " +
               fileBytes(workspace::kErrorCode) + ", version " +
               fileBytes(workspace::kVersionStatus);
    }

    tools::TestServiceConfig config_;
};

// A service that answers every request in a way of its own.
struct ServiceFault {
    const char* name;
    std::function<std::vector<ScriptStep>(const tools::TestServiceConfig&, const std::string&)>
        reply;
    std::string outcome;
};

// Every exchange ends within its deadline (10 s in the program), and a failing start makes three
// of them (version, address, assignment): whatever the service does, the run ends within twice
// their sum.
constexpr auto kExchangeDeadline = 10s;
constexpr auto kFaultRunBound = 2 * 3 * kExchangeDeadline;

class ServiceFaults : public Faults, public ::testing::WithParamInterface<ServiceFault> {};

TEST_P(ServiceFaults, EndTheRunAsTheUserExpects) {
    useStandInIperf();
    const tools::TestServiceConfig config = config_;
    ScriptedService service(
        [&config](const std::string& head) { return GetParam().reply(config, head); });
    const auto start = std::chrono::steady_clock::now();
    const int status = runProgram(serviceOption(service.port()));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outcome(status), GetParam().outcome) << fileBytes("runlog.txt");
    EXPECT_LT(took, kFaultRunBound);
}

std::vector<ScriptStep> inPieces(const tools::TestServiceConfig& config, const std::string& head) {
    const std::string reply = tools::answerRequest(config, head, "127.0.0.1");
    const std::size_t third = reply.size() / 3;
    return {ScriptStep::send(reply.substr(0, third)), ScriptStep::wait(300ms),
            ScriptStep::send(reply.substr(third, third)), ScriptStep::wait(300ms),
            ScriptStep::send(reply.substr(2 * third))};
}

const std::string kNoService = "exit 1, dn -1, up -1, error e002, version 2";

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceFaults,
    ::testing::Values(
        ServiceFault{"answers_in_pieces", inPieces,
                     "exit 0, dn 2, up 2, error <missing>, version 0"},
        ServiceFault{"hangs_after_accepting",
                     [](const auto&, const auto&) { return std::vector{ScriptStep::hang()}; },
                     kNoService},
        // One byte a second: each byte comes well inside the deadline, the reply never whole.
        ServiceFault{"trickles_every_reply",
                     [](const tools::TestServiceConfig& config, const std::string& head) {
                         return std::vector{ScriptStep::trickle(
                             tools::answerRequest(config, head, "127.0.0.1"), 1s)};
                     },
                     kNoService},
        ServiceFault{"answers_garbage",
                     [](const auto&, const auto&) {
                         return std::vector{ScriptStep::send("\x16\x03\x01 garbage \xff\xfe\r\n")};
                     },
                     kNoService},
        ServiceFault{"answers_one_megabyte",
                     [](const auto&, const auto&) {
                         return std::vector{ScriptStep::send(std::string(1 << 20, 'z'))};
                     },
                     kNoService},
        ServiceFault{"closes_mid_reply",
                     [](const auto&, const auto&) {
                         return std::vector{ScriptStep::send("HTTP/1.1 200 OK\r\nContent-Le")};
                     },
                     kNoService}),
    [](const auto& param) { return std::string(param.param.name); });

// The copied program folder's client is a link to an iperf3 elsewhere (the system's): the stand-in
// takes the link's place and leaves what it pointed to as it was.
TEST_F(Faults, TheStandInReplacesTheClientsLinkNotWhatItPointsTo) {
    putFile("elsewhere-iperf3", "the system's own");
    std::filesystem::remove(workspace::kIperfClient);
    std::filesystem::create_symlink(std::filesystem::absolute("elsewhere-iperf3"),
                                    workspace::kIperfClient);
    useStandInIperf();
    EXPECT_EQ(fileBytes("elsewhere-iperf3"), "the system's own");
    EXPECT_FALSE(std::filesystem::is_symlink(workspace::kIperfClient));
    EXPECT_EQ(fileBytes(workspace::kIperfClient),
              fileBytes(testing::testDataPath("iperf3/stand-in-iperf3.sh").string()));
}

TEST_F(Faults, AServiceThatGoesAwayBeforeTheReportLosesOnlyTheReport) {
    useStandInIperf();
    putFile("iperf/recorded/hold", "");
    auto service = std::make_unique<testing::RunningTestService>(config_);
    std::future<int> run = startProgram(serviceOption(service->port()));
    ASSERT_TRUE(waitForFile(workspace::kDownloadStatus, "1", 30s));
    service.reset();
    std::filesystem::remove("iperf/recorded/hold");
    EXPECT_EQ(outcome(run.get()), "exit 0, dn 2, up 2, error <missing>, version 0");
    EXPECT_EQ(fileBytes(workspace::kFinal), "<missing>");
}

TEST_F(Faults, AMissingOrLockedIperfClientFailsTheDownload) {
    testing::RunningTestService service(config_);
    std::filesystem::remove(workspace::kIperfClient);
    EXPECT_EQ(outcome(runProgram(serviceOption(service.port()))),
              "exit 1, dn -1, up -1, error e002, version 0");

    putFile(workspace::kIperfClient, "#!/bin/sh\necho never\n");
    std::filesystem::permissions(workspace::kIperfClient, std::filesystem::perms::owner_read);
    EXPECT_EQ(outcome(runProgram(serviceOption(service.port()))),
              "exit 1, dn -1, up -1, error e002, version 0");
}

// An iperf3 server that stops answering or dies in the middle of the download.
TEST_F(Faults, AServerStoppedOrKilledMidTestFailsTheDownload) {
    for (const int signal : {SIGSTOP, SIGKILL}) {
        testing::IperfServer server;
        tools::TestServiceConfig config = config_;
        config.servers = {"127.0.0.1:" + std::to_string(server.port())};
        testing::RunningTestService service(config);
        putFile(workspace::kDownloadStatus, "0");
        std::filesystem::remove("speedTest/dn_speed_0.txt");
        std::future<int> run = startProgram(serviceOption(service.port()));
        // Mid-test: the download's own client measures (the probe before it writes elsewhere).
        ASSERT_TRUE(waitUntil(
            [&] {
                return fileBytes("speedTest/dn_speed_0.txt").find(" sec ") != std::string::npos;
            },
            30s));
        ::kill(server.pid(), signal);
        EXPECT_EQ(outcome(run.get()), "exit 1, dn -1, up -1, error e002, version 0")
            << "signal " << signal;
        if (signal == SIGSTOP) {
            // The runner waited its 13 s for the stalled client, and no longer; the client it left
            // running ended with the program.
            const std::optional<long> waited = secondsBetween("start run runDownloadIperf index:0",
                                                              "end run runDownloadIperf index:0");
            ASSERT_TRUE(waited.has_value()) << fileBytes("runlog.txt");
            EXPECT_GE(*waited, 13 * 9 / 10);
            EXPECT_LE(*waited, 13 * 13 / 10 + 1);
            EXPECT_TRUE(testing::iperfClientsOf(server.port()).empty());
        }
        ::kill(server.pid(), SIGCONT);
    }
}

bool isRunning(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t afterName = text.rfind(')');
    return afterName != std::string::npos && afterName + 2 < text.size() &&
           text[afterName + 2] != 'Z';
}

// One of two servers stops mid-download: its client outlives the runner's wait and is left
// running through the download's merge, then ended before the upload stage starts its clients.
TEST_F(Faults, AStoppedServersClientIsEndedWhenTheNextStageStarts) {
    testing::IperfServer stopped;
    testing::IperfServer healthy;
    tools::TestServiceConfig config = config_;
    config.servers = {"127.0.0.1:" + std::to_string(stopped.port()),
                      "127.0.0.1:" + std::to_string(healthy.port())};
    testing::RunningTestService service(config);
    std::future<int> run = startProgram(serviceOption(service.port()));
    // The download's own client, once it measures: the probe before the stage runs against the
    // same server, into a file of its own.
    ASSERT_TRUE(waitUntil(
        [&] { return fileBytes("speedTest/dn_speed_0.txt").find(" sec ") != std::string::npos; },
        30s));
    ::kill(stopped.pid(), SIGSTOP);
    const std::vector<int> stale = testing::iperfClientsOf(stopped.port());
    ASSERT_EQ(stale.size(), 1U);

    // The upload's first client starts only after the stale download client has been ended.
    ASSERT_TRUE(waitForFile(workspace::kUploadStatus, "1", 60s)) << fileBytes("runlog.txt");
    ASSERT_TRUE(waitUntil([&] { return !testing::iperfClientsOf(healthy.port()).empty(); }, 10s));
    EXPECT_FALSE(isRunning(stale.front()));
    EXPECT_EQ(outcome(run.get()), "exit 0, dn 2, up 2, error <missing>, version 0");
    EXPECT_TRUE(testing::iperfClientsOf(stopped.port()).empty()) << "ended with the program";
    ::kill(stopped.pid(), SIGCONT);
}

TEST_F(Faults, AMissingWorkspaceIsNotCreatedAndTheRunFails) {
    testing::RunningTestService service(config_);
    std::filesystem::remove_all("speedTest");
    EXPECT_EQ(runProgram(serviceOption(service.port())), 1);
    EXPECT_FALSE(std::filesystem::exists("speedTest"));
}

// Root can make the workspace read-only or full only by mounting; others skip these.
class MountedWorkspace : public Faults {
  protected:
    void TearDown() override {
        if (mounted_) {
            ::umount2((folder() / "speedTest").c_str(), MNT_DETACH);
        }
        Faults::TearDown();
    }
    void mountOrSkip(const std::function<bool(const std::string&)>& mount) {
        if (::geteuid() != 0 || !mount((folder() / "speedTest").string())) {
            GTEST_SKIP() << "needs root and the right to mount";
        }
        mounted_ = true;
    }
    bool mounted_ = false;
};

TEST_F(MountedWorkspace, AReadOnlyWorkspaceKeepsItsFilesAndTheRunFails) {
    testing::RunningTestService service(config_);
    putFile(workspace::kDownloadStatus, "old");
    mountOrSkip([](const std::string& path) {
        return ::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
                   0;
    });
    EXPECT_EQ(runProgram(serviceOption(service.port())), 1);
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "old");
}

TEST_F(MountedWorkspace, AFullWorkspaceEndsTheRunAsFailed) {
    testing::RunningTestService service(config_);
    const std::string installed = fileBytes(workspace::kLocalVersion);
    mountOrSkip([](const std::string& path) {
        return ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    });
    putFile(workspace::kLocalVersion, installed);
    putFile("speedTest/filler", std::string(200 * 1024, 'f'));  // stops where the space ends
    EXPECT_EQ(runProgram(serviceOption(service.port())), 1);
}

// A stand-in iperf/iperf3 that waits the given seconds, then prints the recorded output of one
// server, whatever server it is given.
void installRecordedIperf(int seconds) {
    std::filesystem::remove(workspace::kIperfClient);
    std::filesystem::create_directories("iperf");
    std::filesystem::copy_file(testing::testDataPath("iperf3/dn_speed_0.txt"), "iperf/dn.txt");
    std::filesystem::copy_file(testing::testDataPath("iperf3/up_speed_0.txt"), "iperf/up.txt");
    std::ofstream(workspace::kIperfClient)
        << ("#!/bin/sh\nsleep " + std::to_string(seconds) +
            "\nfor a; do [ \"$a\" = -R ] && exec cat \"$(dirname \"$0\")/dn.txt\"; done\n"
            "exec cat \"$(dirname \"$0\")/up.txt\"\n");
    std::filesystem::permissions(workspace::kIperfClient, std::filesystem::perms::owner_all);
}

std::vector<std::string> loopbackServers(int count, int firstPort) {
    std::vector<std::string> servers;
    for (int i = 0; i < count; ++i) {
        servers.push_back("127.0.0.1:" + std::to_string(firstPort + i));
    }
    return servers;
}

// A figure of final.txt for servers started all at once: the sum of their totals, or, where a
// loaded machine started their runs more than a quarter second apart, what they received over
// the time in which any of them measured (ten seconds each over at most eleven), as the run log
// says.
void expectFigureOfStartedTogether(const std::string& final, const std::string& log,
                                   const std::string& name, double sum) {
    const std::size_t at = final.find(name + "=");
    ASSERT_NE(at, std::string::npos) << final;
    const double figure = std::stod(final.substr(at + name.size() + 1));
    if (std::abs(figure - sum) > 0.005) {
        EXPECT_LT(figure, sum) << name;
        EXPECT_GT(figure, sum * 10 / 11) << name;
        EXPECT_NE(log.find("the servers measured over different times: "), std::string::npos);
    }
}

// 64 clients that each take 2 s: run one after another, a stage would take over two minutes.
TEST_F(Faults, SixtyFourServersInOneTest) {
    installRecordedIperf(2);
    tools::TestServiceConfig config = config_;
    config.servers = loopbackServers(64, 30000);
    testing::RunningTestService service(config);
    EXPECT_EQ(outcome(runProgram(serviceOption(service.port()))),
              "exit 0, dn 2, up 2, error <missing>, version 0");
    // 64 times the recorded server's download receiver total, 12710 Mbits/sec.
    expectFigureOfStartedTogether(fileBytes(workspace::kFinal), fileBytes("runlog.txt"),
                                  "downloadResult", 813440.00);
    for (const std::string stage : {"downloadTest", "uploadTest"}) {
        const std::optional<long> took =
            secondsBetween("start run " + stage + "...", "end run " + stage + "...");
        ASSERT_TRUE(took.has_value()) << fileBytes("runlog.txt");
        EXPECT_LT(*took, 6) << stage << ": the clients ran one after another";
    }
}

// A reply naming a hundred servers, one of them twice: the first 64 distinct ones run, and the
// scripts, the figures, the report and final.txt hold those 64 only.
TEST_F(Faults, AHundredServersAndARepeatedOneRunTheFirstSixtyFourOnce) {
    installRecordedIperf(0);
    tools::TestServiceConfig config = config_;
    config.servers = loopbackServers(100, 30000);
    config.servers.insert(config.servers.begin() + 1, "127.0.0.1:30000");
    config.reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(config);
    EXPECT_EQ(outcome(runProgram(serviceOption(service.port()))),
              "exit 0, dn 2, up 2, error <missing>, version 0");

    std::string addresses;
    std::string ports;
    for (int i = 0; i < 64; ++i) {
        addresses += std::string(i == 0 ? "" : ",") + "127.0.0.1";
        ports += (i == 0 ? "" : ",") + std::to_string(30000 + i);
    }
    const std::string final = fileBytes(workspace::kFinal);
    EXPECT_EQ(
        final.rfind("Server IP=" + addresses + ", Server Port=" + ports + ", downloadResult=", 0),
        0U)
        << final;
    expectFigureOfStartedTogether(final, fileBytes("runlog.txt"), "downloadResult", 813440.00);
    expectFigureOfStartedTogether(final, fileBytes("runlog.txt"), "uploadResult", 1074176.00);
    EXPECT_EQ(fileBytes("reports.txt").rfind("ipAddress=" + addresses + "&port=" + ports + "&", 0),
              0U)
        << fileBytes("reports.txt");
    EXPECT_TRUE(std::filesystem::exists("runDownloadIperf_63.sh"));
    EXPECT_FALSE(std::filesystem::exists("runDownloadIperf_64.sh"));
    const std::string log = fileBytes("runlog.txt");
    EXPECT_NE(log.find("repeated iperf server, runs once | IP address: 127.0.0.1 , port: 30000\n"),
              std::string::npos);
    for (const int port : {30064, 30099}) {
        EXPECT_NE(log.find("iperf server left out, at most 64 in one test | IP address: 127.0.0.1 "
                           ", port: " +
                           std::to_string(port) + "\n"),
                  std::string::npos)
            << port;
    }
}

}  // namespace
}  // namespace kestova
