// Faults a customer's machine may meet, each in a program folder of its own, with the program run
// as a user runs it: every run must end by itself with the outcome a user would expect.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
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

    void useStandInIperf() {
        std::filesystem::remove(workspace::kIperfClient);
        testing::installStandInIperf();
    }

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
        std::future<int> run = startProgram(serviceOption(service.port()));
        ASSERT_TRUE(waitForFile(workspace::kDownloadStatus, "1", 30s));
        std::this_thread::sleep_for(2s);
        ::kill(server.pid(), signal);
        EXPECT_EQ(outcome(run.get()), "exit 1, dn -1, up -1, error e002, version 0")
            << "signal " << signal;
        ::kill(server.pid(), SIGCONT);
    }
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

TEST_F(Faults, SixtyFourServersInOneTest) {
    std::filesystem::remove(workspace::kIperfClient);
    std::filesystem::create_directories("iperf");
    std::filesystem::copy_file(testing::testDataPath("iperf3/dn_speed_0.txt"), "iperf/dn.txt");
    std::filesystem::copy_file(testing::testDataPath("iperf3/up_speed_0.txt"), "iperf/up.txt");
    putFile(workspace::kIperfClient,
            "#!/bin/sh\nfor a; do [ \"$a\" = -R ] && exec cat \"$(dirname \"$0\")/dn.txt\"; done\n"
            "exec cat \"$(dirname \"$0\")/up.txt\"\n");
    std::filesystem::permissions(workspace::kIperfClient, std::filesystem::perms::owner_all);
    tools::TestServiceConfig config = config_;
    config.servers.clear();
    for (int i = 0; i < 64; ++i) {
        config.servers.push_back("127.0.0.1:" + std::to_string(30000 + i));
    }
    testing::RunningTestService service(config);
    EXPECT_EQ(outcome(runProgram(serviceOption(service.port()))),
              "exit 0, dn 2, up 2, error <missing>, version 0");
    // 64 times the recorded server's download receiver total, 12710 Mbits/sec.
    const std::string final = fileBytes(workspace::kFinal);
    EXPECT_NE(final.find("downloadResult=813440.00Mbps"), std::string::npos) << final;
}

}  // namespace
}  // namespace kestova
