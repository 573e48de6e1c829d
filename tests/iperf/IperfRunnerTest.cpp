#include "iperf/IperfRunner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/IperfServer.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunLogRecorder.h"
#include "support/WaitUntil.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using IperfRunner = testing::ProgramFolderTest;

std::string runDownload(std::size_t index, std::chrono::milliseconds wait) {
    const testing::RunLogRecorder recorded;
    runDownloadIperf(index, wait);
    return recorded.text();
}

TEST_F(IperfRunner, ScriptPathsLieInTheProgramFolder) {
    EXPECT_EQ(downloadScriptFullPath(12), (folder() / "runDownloadIperf_12.sh").string());
    EXPECT_EQ(uploadScriptFullPath(0), (folder() / "runUploadIperf_0.sh").string());
}

TEST_F(IperfRunner, RunsTheScriptInTheProgramFolderAndLogsStartAndEnd) {
    putFile("runDownloadIperf_12.sh", "echo ran > speedTest/dn_speed_12.txt\n");
    const std::string log = runDownload(12, 5s);
    EXPECT_EQ(fileBytes("speedTest/dn_speed_12.txt"), "ran\n");
    EXPECT_EQ(log.rfind("start run runDownloadIperf index:12 ", 0), 0U) << log;
    EXPECT_NE(log.find("\nend run runDownloadIperf index:12 "), std::string::npos) << log;
}

// A server still serving a test (as right after the one before, while it closes it) turns a
// client away as busy: the run is tried again until the server takes it, and the output is the
// run's, not the refusal.
TEST_F(IperfRunner, AServerBusyWithAnotherTestIsTriedAgain) {
    testing::IperfServer server;
    const std::string port = std::to_string(server.port());
    std::optional<platform::ChildProcess> occupant = platform::ChildProcess::startProgram(
        {"sh", "-c",
         "iperf3 -c 127.0.0.1 -p " + port + " -t 1.5 -i 0.2 --forceflush > speedTest/other.txt"});
    ASSERT_TRUE(occupant);
    ASSERT_TRUE(test::waitUntil(
        [&] { return fileBytes("speedTest/other.txt").find(" sec ") != std::string::npos; }, 10s));
    putFile("runDownloadIperf_0.sh", "iperf3 -c 127.0.0.1 -p " + port +
                                         " -t 1 -R --forceflush > speedTest/dn_speed_0.txt\n");
    const std::string log = runDownload(0, 20s);
    EXPECT_NE(log.find("measured nothing (its server may still be closing a test): trying again"),
              std::string::npos)
        << log;
    EXPECT_NE(fileBytes("speedTest/dn_speed_0.txt").find("iperf Done."), std::string::npos)
        << fileBytes("speedTest/dn_speed_0.txt");
    EXPECT_TRUE(occupant->waitForExit(10s));
}

TEST_F(IperfRunner, AMissingScriptWritesTheStartLineOnly) {
    const std::string log = runDownload(3, 5s);
    EXPECT_EQ(log.rfind("start run runDownloadIperf index:3 ", 0), 0U);
    EXPECT_EQ(log.find("end run"), std::string::npos);
}

TEST_F(IperfRunner, AScriptThatOutlivesTheWaitRunsOnAndLeavesNoZombie) {
    // The script says who it is, then works on for a second and leaves its output.
    putFile("runUploadIperf_0.sh",
            "echo $$ > speedTest/pid.txt\nsleep 1\necho late > speedTest/up_speed_0.txt\n");
    const auto start = std::chrono::steady_clock::now();
    const testing::RunLogRecorder recorded;
    runUploadIperf(0, 200ms);
    const std::string log = recorded.text();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
    EXPECT_NE(log.find("end run runUploadIperf index:0 "), std::string::npos);
    EXPECT_EQ(fileBytes("speedTest/up_speed_0.txt"), "") << "made by the program, not yet written";

    // The script was not stopped: it finishes its work, and then nothing is left of it.
    EXPECT_TRUE(
        test::waitUntil([&] { return fileBytes("speedTest/up_speed_0.txt") == "late\n"; }, 5s));
    const int pid = std::stoi(fileBytes("speedTest/pid.txt"));
    // A zombie would still answer.
    EXPECT_TRUE(test::waitUntil([pid] { return ::kill(pid, 0) != 0; }, 3s));
}

}  // namespace
}  // namespace kestova
