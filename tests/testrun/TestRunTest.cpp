#include "testrun/TestRun.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "iperf/IperfOutput.h"
#include "iperf/ScriptStart.h"
#include "iperf/SpeedFileMerge.h"
#include "platform/TextFile.h"
#include "service/RequestLines.h"
#include "service/ServerAssignment.h"
#include "support/FakeWindow.h"
#include "support/IperfServer.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunLogRecorder.h"
#include "support/RunningTestService.h"
#include "support/ServiceReplies.h"
#include "support/StandInIperf.h"
#include "support/TestData.h"
#include "support/WaitUntil.h"
#include "tools/scripted_service/ScriptedService.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using testing::FakeWindow;

using test::waitUntil;
using testing::kRecordedPorts;

// A program folder with a stand-in iperf3 that prints the recorded outputs of three servers, and
// a test run on a fake window whose every status write is recorded.
class TestRunFixture : public testing::ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        testing::installStandInIperf();
        observeStatusWrites([this](const std::string& path, std::string_view value) {
            const std::lock_guard<std::mutex> guard(writesLock_);
            writes_.push_back(std::filesystem::path(path).filename().string() + "=" +
                              std::string(value));
        });
    }

    void TearDown() override {
        observeStatusWrites({});
        ProgramFolderTest::TearDown();
    }

    // The status values written so far, files of the page only.
    std::vector<std::string> statusWrites() const {
        const std::lock_guard<std::mutex> guard(writesLock_);
        std::vector<std::string> statuses;
        for (const std::string& write : writes_) {
            if (write.rfind("dn_status", 0) == 0 || write.rfind("up_status", 0) == 0 ||
                write.rfind("error", 0) == 0) {
                statuses.push_back(write);
            }
        }
        return statuses;
    }

    TestRun makeRun(const ServiceEndpoint& endpoint,
                    TestRunTiming timing = TestRunTiming::shortPauses()) {
        TestRunSettings settings;
        settings.service = endpoint;
        settings.timing = timing;
        settings.openAddress = [this](const std::string& address) { opened_.push_back(address); };
        settings.endProgram = [this] { ended_ = true; };
        settings.assignments = &assignments_;
        return TestRun(settings, window_, channel_);
    }

    FakeWindow window_;
    std::shared_ptr<WindowChannel> channel_ = std::make_shared<WindowChannel>(window_, runAtOnce());
    ServerAssignmentState assignments_;
    std::vector<std::string> opened_;
    bool ended_ = false;

  private:
    mutable std::mutex writesLock_;
    std::vector<std::string> writes_;
};

tools::TestServiceConfig threeServers(const std::string& reportLog) {
    tools::TestServiceConfig config;
    for (const std::string& port : kRecordedPorts) {
        config.servers.push_back("127.0.0.1:" + port);
    }
    config.reportLog = reportLog;
    return config;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The line's text without its trailing timestamp.
std::string withoutTime(const std::string& line) {
    return line.size() > 20 && line[line.size() - 20] == ' ' ? line.substr(0, line.size() - 20)
                                                             : line;
}

const std::vector<std::string> kWholeRunOperations = {
    "disable start", "disable cancel", "hide start", "show restart", "enable cancel"};

// Scripts that cannot start measure nothing: the outputs an earlier test left in the workspace
// are not this test's, so the download fails rather than reporting their figures.
TEST_F(TestRunFixture, OutputsOfAnEarlierTestDoNotCountWhenTheScriptsCannotStart) {
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(threeServers(reportLog));
    for (std::size_t index = 0; index < kRecordedPorts.size(); ++index) {
        const std::string name = "dn_speed_" + std::to_string(index) + ".txt";
        putFile("speedTest/" + name, fileBytes(testing::testDataPath("iperf3/" + name)));
        // A folder where the script should be: it can be neither written nor started.
        std::filesystem::create_directory(folder() /
                                          ("runDownloadIperf_" + std::to_string(index) + ".sh"));
    }
    TestRun run = makeRun(service.endpoint());

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    EXPECT_EQ(completed, std::optional<bool>(false));
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e002");
    EXPECT_EQ(fileBytes(workspace::kDownloadSpeed), "");
    EXPECT_NE(fileBytes(reportLog).find("downloadResult=error"), std::string::npos);
}

// The page shows the live totals, server counts and latency while the download status says "1":
// at that moment none of them may still be an earlier test's.
TEST_F(TestRunFixture, NothingOfAnEarlierTestIsLeftWhenTheTestIsUnderWay) {
    const std::vector<std::pair<const char*, std::string>> earlier = {
        {workspace::kDownloadLive, "9.00 12345.00\n"},
        {workspace::kUploadLive, "9.00 2345.00\n"},
        {workspace::kDownloadServers, "3/3"},
        {workspace::kUploadServers, "3/3"},
        {workspace::kLatency, "idle 5.00 1.00 10 0\ndownload 50.00 2.00 20 0\n"}};
    for (const auto& [path, content] : earlier) {
        putFile(path, content);
    }
    std::mutex lock;
    std::vector<std::string> seen;
    observeStatusWrites([&](const std::string& path, std::string_view value) {
        if (std::filesystem::path(path).filename() == "dn_status.txt" && value == "1") {
            const std::lock_guard<std::mutex> guard(lock);
            for (const auto& [earlierPath, content] : earlier) {
                seen.push_back(fileBytes(earlierPath));
            }
        }
    });
    testing::RunningTestService service(threeServers((folder() / "reports.txt").string()));
    TestRun run = makeRun(service.endpoint());

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(true));
    observeStatusWrites({});
    const std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(seen, (std::vector<std::string>{"", "", "", "",
                                              "idle - - 0 0\ndownload - - 0 0\n"
                                              "upload - - 0 0\n"}));
}

// A script's ">" writes through a link: one planted at a server's output name is removed before
// the script runs, so that the output lands in the workspace and nothing outside is written.
TEST_F(TestRunFixture, ALinkPlantedAtAnOutputNameIsNotWrittenThrough) {
    putFile("outside.txt", "keep");
    std::filesystem::create_symlink("../outside.txt", "speedTest/dn_speed_0.txt");
    testing::RunningTestService service(threeServers((folder() / "reports.txt").string()));
    TestRun run = makeRun(service.endpoint());

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(true));
    EXPECT_EQ(fileBytes("outside.txt"), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink("speedTest/dn_speed_0.txt"));
    EXPECT_EQ(fileBytes("speedTest/dn_speed_0.txt"),
              fileBytes(testing::testDataPath("iperf3/dn_speed_0.txt")));
}

// What is planted at a server's output name in the moment between the program's making it and
// its script's start: the script does not run, so its ">" writes through nothing and nothing waits
// on a pipe; the stage goes on with the other servers and the test ends.
struct PlantedAfterMakingCase {
    const char* name;
    std::function<void(const std::string& outputPath)> plant;
};

class PlantedAfterMaking : public TestRunFixture,
                           public ::testing::WithParamInterface<PlantedAfterMakingCase> {};

TEST_P(PlantedAfterMaking, IsNotWrittenThroughAndTheStageEnds) {
    putFile("outside.txt", "keep");
    std::atomic<bool> planted{false};
    iperf::observeOutputsMade([&](const std::string& outputPath) {
        if (outputPath == "speedTest/dn_speed_0.txt" && !planted.exchange(true)) {
            GetParam().plant(outputPath);
        }
    });
    testing::RunningTestService service(threeServers((folder() / "reports.txt").string()));
    TestRun run = makeRun(service.endpoint());

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    const std::string log = recorded.text();
    iperf::observeOutputsMade({});
    ASSERT_TRUE(planted);
    EXPECT_EQ(completed, std::optional<bool>(true)) << "the two other servers complete";
    EXPECT_EQ(fileBytes("outside.txt"), "keep");
    EXPECT_NE(log.find("the output speedTest/dn_speed_0.txt was replaced before its script "
                       "started: the script does not run"),
              std::string::npos)
        << log;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantedAfterMaking,
    ::testing::Values(PlantedAfterMakingCase{"link_to_a_file_outside",
                                             [](const std::string& outputPath) {
                                                 // Put in place in one step, as a rename does.
                                                 std::filesystem::create_symlink(
                                                     "../outside.txt", "speedTest/link.tmp");
                                                 std::filesystem::rename("speedTest/link.tmp",
                                                                         outputPath);
                                             }},
                      PlantedAfterMakingCase{"pipe",
                                             [](const std::string& outputPath) {
                                                 std::filesystem::remove(outputPath);
                                                 ASSERT_EQ(::mkfifo(outputPath.c_str(), 0600), 0);
                                             }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(TestRunFixture, AWholeRunWithThreeServers) {
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(threeServers(reportLog));
    TestRun run = makeRun(service.endpoint());

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    const std::string log = recorded.text();
    ASSERT_EQ(completed, std::optional<bool>(true));

    EXPECT_EQ(statusWrites(),
              (std::vector<std::string>{"dn_status.txt=1", "up_status.txt=0", "dn_status.txt=2",
                                        "up_status.txt=1", "up_status.txt=2"}));
    EXPECT_EQ(fileBytes(workspace::kDownloadSpeed),
              fileBytes(testing::testDataPath("iperf3/dn_speed_merged.txt")));
    EXPECT_EQ(fileBytes(workspace::kUploadSpeed),
              fileBytes(testing::testDataPath("iperf3/up_speed_merged.txt")));
    const std::string servers = "127.0.0.1,127.0.0.1,127.0.0.1";
    EXPECT_EQ(fileBytes(reportLog), "ipAddress=" + servers +
                                        "&port=25301,25302,25303&downloadResult=40942.00"
                                        "&uploadResult=42955.00&platform=Win\n");
    EXPECT_EQ(fileBytes(workspace::kFinal),
              "Server IP=" + servers +
                  ", Server Port=25301,25302,25303, downloadResult=40942.00Mbps, "
                  "uploadResult=42955.00Mbps");
    EXPECT_EQ(window_.operations(),
              (std::vector<std::string>{"disable start", "disable cancel", "hide start",
                                        "show restart", "enable cancel"}));

    // The log: each stage's workers between its start and end lines, then its merge.
    std::vector<std::string> lines;
    for (const std::string& line : linesOf(log)) {
        lines.push_back(withoutTime(line));
    }
    ASSERT_GE(lines.size(), 5U);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"click start button...",
                                        "our iperf server | IP address: 127.0.0.1 , port: 25301",
                                        "our iperf server | IP address: 127.0.0.1 , port: 25302",
                                        "our iperf server | IP address: 127.0.0.1 , port: 25303",
                                        "start run downloadTest..."}));
    const auto at = [&lines](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    for (const std::string stage : {"Download", "Upload"}) {
        const std::string lower = stage == "Download" ? "download" : "upload";
        const auto stageStart = at("start run " + lower + "Test...");
        const auto stageEnd = at("end run " + lower + "Test...");
        ASSERT_LT(stageEnd, static_cast<std::ptrdiff_t>(lines.size()));
        for (int i = 0; i < 3; ++i) {
            const auto workerStart =
                at("start run run" + stage + "Iperf index:" + std::to_string(i));
            const auto workerEnd = at("end run run" + stage + "Iperf index:" + std::to_string(i));
            EXPECT_LT(stageStart, workerStart);
            EXPECT_LT(workerStart, workerEnd);
            EXPECT_LT(workerEnd, stageEnd);
        }
        const std::string base = stage == "Download" ? "dn_speed" : "up_speed";
        EXPECT_EQ(lines.at(static_cast<std::size_t>(stageEnd) + 1),
                  "speedTest/" + base + "_0.txt iperf Done. found");
        EXPECT_EQ(lines.at(static_cast<std::size_t>(stageEnd) + 4),
                  "start merge speed file: " + base + " total line: 3");
        EXPECT_EQ(lines.at(static_cast<std::size_t>(stageEnd) + 5), "file content result:");
    }
    EXPECT_LT(at("end run downloadTest..."), at("start run uploadTest..."));
}

// The commands hand everything that waits to the run's own thread: against a service that answers
// each exchange only after a pause, they return at once, and presses while the run is being
// prepared do nothing.
TEST_F(TestRunFixture, CommandsReturnAtOnceAndPressesWhileARunIsPreparedDoNothing) {
    static constexpr std::chrono::milliseconds kServiceDelay{2000};
    const tools::TestServiceConfig config = threeServers("");
    tools::ScriptedService service([&config](const std::string& requestHead) {
        return std::vector<tools::ScriptStep>{
            tools::ScriptStep::wait(kServiceDelay),
            tools::ScriptStep::send(tools::answerRequest(config, requestHead, "127.0.0.1"))};
    });
    ServiceEndpoint endpoint = testing::loopbackEndpoint(service.port());
    endpoint.exchangeTimeout = 4 * kServiceDelay;
    TestRun run = makeRun(endpoint);

    const testing::RunLogRecorder recorded;
    const auto pressed = std::chrono::steady_clock::now();
    run.OnBnClickedStart();
    run.OnBnClickedStart();
    run.OnBnClickedRestart();
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, kServiceDelay / 2);
    EXPECT_TRUE(run.preparing());
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    const std::string log = recorded.text();

    EXPECT_EQ(completed, std::optional<bool>(true));
    EXPECT_FALSE(run.preparing());
    EXPECT_EQ(service.requests().size(), 3U);  // one lookup, one assignment, one report
    EXPECT_EQ(log.find("click start button..."), log.rfind("click start button..."));
    EXPECT_EQ(window_.operations(), kWholeRunOperations);
    EXPECT_EQ(statusWrites(),
              (std::vector<std::string>{"dn_status.txt=1", "up_status.txt=0", "dn_status.txt=2",
                                        "up_status.txt=1", "up_status.txt=2"}));
}

// An assignment that fails: the page learns why, and after the wait the buttons come back.
struct FailedAssignmentCase {
    const char* name;
    bool unreachable;  // else refused
    bool laterRun;
    std::string errorCode;
    std::vector<std::string> operations;
    std::vector<std::string> looks;
};

class FailedAssignment : public TestRunFixture,
                         public ::testing::WithParamInterface<FailedAssignmentCase> {};

TEST_P(FailedAssignment, EndsTheRunWithItsCodeAndGivesTheButtonsBack) {
    const FailedAssignmentCase& c = GetParam();
    tools::TestServiceConfig refusing;  // no servers: the service refuses the test
    testing::RunningTestService service(refusing);
    const ServiceEndpoint endpoint =
        c.unreachable ? testing::unresolvableEndpoint() : service.endpoint();
    TestRun run = makeRun(endpoint);
    const testing::RunLogRecorder recorded;
    if (c.laterRun) {
        run.OnBnClickedStart();
        // Restart comes back only when the first run has shown its failure.
        run.waitForRunsToEnd(1s);
        run.OnBnClickedRestart();
    } else {
        run.OnBnClickedStart();
    }
    EXPECT_EQ(run.waitForRunsToEnd(1s), std::optional<bool>(false));
    const std::string log = recorded.text();

    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), c.errorCode);
    EXPECT_EQ(log.find("start run"), std::string::npos);
    std::vector<std::string> operations = window_.operations();
    if (c.laterRun) {
        operations.erase(operations.begin(), operations.begin() + 5);  // the first run's
    }
    EXPECT_EQ(operations, c.operations);
    EXPECT_EQ((std::vector<std::string>{window_.look(WindowButton::Start),
                                        window_.look(WindowButton::Restart),
                                        window_.look(WindowButton::Cancel)}),
              c.looks);
}

const std::vector<std::string> kFirstRunOperations = {
    "disable start", "disable cancel", "hide start", "show restart", "enable cancel"};
const std::vector<std::string> kLaterRunOperations = {
    "reload", "disable restart", "disable cancel", "hide start", "enable restart", "enable cancel"};
const std::vector<std::string> kEndedLooks = {"start hidden disabled grey",
                                              "restart visible enabled", "cancel visible enabled"};

INSTANTIATE_TEST_SUITE_P(
    Cases, FailedAssignment,
    ::testing::Values(FailedAssignmentCase{"unreachable_first_run", true, false, "e001",
                                           kFirstRunOperations, kEndedLooks},
                      FailedAssignmentCase{"refused_first_run", false, false, "e002",
                                           kFirstRunOperations, kEndedLooks},
                      FailedAssignmentCase{"unreachable_later_run", true, true, "e001",
                                           kLaterRunOperations, kEndedLooks},
                      FailedAssignmentCase{"refused_later_run", false, true, "e002",
                                           kLaterRunOperations, kEndedLooks}),
    [](const auto& param) { return std::string(param.param.name); });

// "1" as the first line of the version status stops Start before anything else happens.
struct GateCase {
    const char* name;
    std::string versionFile;
    bool applies;
};

class VersionGate : public TestRunFixture, public ::testing::WithParamInterface<GateCase> {};

TEST_P(VersionGate, OpensTheUpgradePageAndEndsOnlyForOne) {
    putFile(workspace::kVersionStatus, GetParam().versionFile);
    TestRun run = makeRun(testing::unresolvableEndpoint());
    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    run.waitForRunsToEnd(1s);
    const std::string log = recorded.text();
    if (GetParam().applies) {
        EXPECT_EQ(opened_, std::vector<std::string>{kUpgradePageAddress});
        EXPECT_TRUE(ended_);
        EXPECT_EQ(log, "");
        EXPECT_TRUE(statusWrites().empty());
        EXPECT_TRUE(window_.operations().empty());
        EXPECT_EQ(fileBytes(workspace::kIpAddress), "<missing>");
    } else {
        EXPECT_TRUE(opened_.empty());
        EXPECT_FALSE(ended_);
        EXPECT_EQ(log.rfind("click start button...\n", 0), 0U);
        EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionGate,
    ::testing::Values(GateCase{"one", "1", true}, GateCase{"one_and_more_lines", "1\n0\nx", true},
                      GateCase{"one_with_windows_line_end", "1\r\n", true},
                      GateCase{"ten", "10", false}, GateCase{"space_before", " 1", false},
                      GateCase{"two", "2", false}, GateCase{"empty", "", false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(TestRunFixture, RestartHasNoVersionGate) {
    putFile(workspace::kVersionStatus, "1");
    TestRun run = makeRun(testing::unresolvableEndpoint());
    const testing::RunLogRecorder recorded;
    run.OnBnClickedRestart();
    run.waitForRunsToEnd(1s);
    EXPECT_EQ(recorded.text(), "");
    EXPECT_FALSE(ended_);
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
}

TEST_F(TestRunFixture, AGrantedRunAfterAFailedOneKeepsTheOldCodeWhileItRuns) {
    testing::RunningTestService service(threeServers(""));
    putFile(workspace::kErrorCode, "e001");
    TestRun run = makeRun(service.endpoint());
    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(true));
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
}

// A system without threads to spare: the run fails like a failed download and the buttons come
// back, whether the stage thread or a worker could not be started.
TEST_F(TestRunFixture, NoThreadForTheStagesOrAWorkerEndsTheRunAsFailed) {
    testing::RunningTestService service(threeServers(""));
    for (const int threadsGiven : {0, 2}) {
        TestRunSettings settings;
        settings.service = service.endpoint();
        settings.timing = TestRunTiming::shortPauses();
        settings.assignments = &assignments_;
        auto given = std::make_shared<std::atomic<int>>(0);
        settings.startThread =
            [given, threadsGiven](std::function<void()> body) -> std::optional<std::thread> {
            if (given->fetch_add(1) >= threadsGiven) {
                return std::nullopt;
            }
            return std::thread(std::move(body));
        };
        FakeWindow window;
        TestRun run(settings, window, std::make_shared<WindowChannel>(window, runAtOnce()));
        const testing::RunLogRecorder recorded;
        run.OnBnClickedStart();
        EXPECT_EQ(run.waitForRunsToEnd(30s), std::optional<bool>(false));
        EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "-1") << threadsGiven;
        EXPECT_EQ(fileBytes(workspace::kUploadStatus), "-1");
        EXPECT_EQ(fileBytes(workspace::kErrorCode), "e002");
        EXPECT_EQ(window.look(WindowButton::Restart), "restart visible enabled");
        EXPECT_EQ(window.look(WindowButton::Cancel), "cancel visible enabled");
    }
}

// A Restart's assignment may refill the server list while the ended run still reports: the
// report names the servers the run measured.
TEST_F(TestRunFixture, ARunReportsTheServersItRanWith) {
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(threeServers(reportLog));
    putFile("iperf/recorded/hold", "");
    TestRun run = makeRun(service.endpoint());
    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    // While the stages run, another assignment changes the list.
    EXPECT_TRUE(waitUntil([] { return fileBytes(workspace::kDownloadStatus) == "1"; }, 5s));
    tools::TestServiceConfig other;
    other.servers = {"127.0.0.9:6000"};
    testing::RunningTestService otherService(other);
    EXPECT_EQ(requestIperfServer(otherService.endpoint(), assignments_), AssignmentResult::Granted);
    std::filesystem::remove("iperf/recorded/hold");
    EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(true));
    EXPECT_EQ(fileBytes(reportLog).substr(0, 60),
              "ipAddress=127.0.0.1,127.0.0.1,127.0.0.1&port=25301,25302,253");
}

// After the window has gone, the stage thread runs the test to its end and touches no window.
TEST_F(TestRunFixture, AClosedWindowIsNotTouchedAgain) {
    testing::RunningTestService service(threeServers(""));
    putFile("iperf/recorded/hold", "");
    TestRun run = makeRun(service.endpoint());
    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    channel_->close();
    const std::size_t operationsBefore = window_.operations().size();
    std::filesystem::remove("iperf/recorded/hold");
    EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(true));
    EXPECT_EQ(window_.operations().size(), operationsBefore);
    EXPECT_NE(fileBytes(workspace::kFinal), "<missing>");
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// A real iperf3 client whose server stalls outlives its wait and is left running. Left alone, it
// would write the rest of its output into the next run's file of the same server (at its own
// offset: over the new output, or after a hole of zero bytes) and the next merge would count it
// for the wrong run. It is ended before the next run's stage starts its clients.
TEST_F(TestRunFixture, AStalledClientIsEndedBeforeTheNextRunsStageStarts) {
    std::filesystem::remove(workspace::kIperfClient);
    std::filesystem::create_symlink("/usr/bin/iperf3", workspace::kIperfClient);
    putFile(workspace::kIperfParameters, "-P 2 --forceflush");  // each interval in the file at once
    testing::IperfServer stalling;
    testing::IperfServer healthy;
    std::atomic<bool> restarted{false};
    tools::ScriptedService service([&](const std::string& head) {
        tools::TestServiceConfig config;
        config.servers = {"127.0.0.1:" +
                          std::to_string(restarted.load() ? healthy.port() : stalling.port())};
        return std::vector{
            tools::ScriptStep::send(tools::answerRequest(config, head, "127.0.0.1"))};
    });
    // A stage pause of its own, so that late output would land before the merge.
    TestRunTiming timing = TestRunTiming::shortPauses();
    timing.stagePause = 3s;
    TestRun run = makeRun(testing::loopbackEndpoint(service.port()), timing);
    const std::string output = "speedTest/dn_speed_0.txt";
    const testing::RunLogRecorder recorded;

    run.OnBnClickedStart();
    ASSERT_TRUE(
        waitUntil([&] { return fileBytes(output).find(" sec ") != std::string::npos; }, 20s));
    ::kill(stalling.pid(), SIGSTOP);
    EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(false));
    ASSERT_EQ(testing::iperfClientsOf(stalling.port()).size(), 1U) << "outlived its wait";

    restarted.store(true);
    run.OnBnClickedRestart();
    // The new run's client starts only after the stale one has been ended.
    const std::string header =
        "Connecting to host 127.0.0.1, port " + std::to_string(healthy.port());
    ASSERT_TRUE(waitUntil([&] { return fileBytes(output).rfind(header, 0) == 0; }, 30s));
    EXPECT_TRUE(testing::iperfClientsOf(stalling.port()).empty());
    // Once the new client has finished, the stalled server goes on: a stale client would write now.
    ASSERT_TRUE(waitUntil([&] { return occurrences(fileBytes(output), "iperf Done.") == 1; }, 30s));
    const std::string newOutput = fileBytes(output);
    ::kill(stalling.pid(), SIGCONT);
    EXPECT_EQ(run.waitForRunsToEnd(90s), std::optional<bool>(true));

    EXPECT_EQ(fileBytes(output), newOutput);
    EXPECT_EQ(newOutput.find('\0'), std::string::npos);
    EXPECT_EQ(fileBytes(workspace::kDownloadSpeed),
              mergeCollectedOutputs({platform::splitLines(newOutput)}));
}

// A failure by an exception on the run's thread, in the download stage or in the upload stage:
// the test fails in that stage with its code, has its history line, gives the buttons back, sends
// no report and is never left "under way". The thread starter gives the run its thread, then
// fails by an exception at the call given: the second download worker, or the first upload one.
struct RunThreadFailureCase {
    const char* name;
    int failingCall;
    std::string downloadStatus;
    std::string errorCode;
};

class RunThreadFailure : public TestRunFixture,
                         public ::testing::WithParamInterface<RunThreadFailureCase> {};

TEST_P(RunThreadFailure, IsAFailedTest) {
    const RunThreadFailureCase& c = GetParam();
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(threeServers(reportLog));
    TestRunSettings settings;
    settings.service = service.endpoint();
    settings.timing = TestRunTiming::shortPauses();
    settings.assignments = &assignments_;
    auto calls = std::make_shared<std::atomic<int>>(0);
    settings.startThread =
        [calls, failing = c.failingCall](std::function<void()> body) -> std::optional<std::thread> {
        if (calls->fetch_add(1) == failing) {
            throw std::runtime_error("no thread for this worker");
        }
        return std::thread(std::move(body));
    };
    TestRun run(settings, window_, channel_);

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    const std::string log = recorded.text();
    ASSERT_EQ(completed, std::optional<bool>(false)) << log;

    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), c.downloadStatus);
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "-1");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), c.errorCode);
    const std::vector<std::string> history = linesOf(fileBytes(workspace::kHistory));
    ASSERT_EQ(history.size(), 2U);
    EXPECT_EQ(history[1].substr(history[1].rfind(',') + 1), c.errorCode);
    EXPECT_EQ(window_.operations(), kWholeRunOperations);
    EXPECT_EQ(fileBytes(reportLog), "<missing>");
    EXPECT_NE(log.find("no thread for this worker"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Cases, RunThreadFailure,
                         ::testing::Values(RunThreadFailureCase{"download_stage", 2, "-1", "e002"},
                                           RunThreadFailureCase{"upload_stage", 4, "2", "e003"}),
                         [](const auto& param) { return std::string(param.param.name); });

// A stand-in for the test service that serves each connection on a thread of its own, so that
// a report it holds does not hold the exchanges of the next test.
class ConcurrentService {
  public:
    using Responder = std::function<std::string(const std::string& requestHead)>;

    explicit ConcurrentService(Responder responder)
        : responder_(std::move(responder)),
          listener_(*platform::TcpListener::listenOnLoopback(0)),
          thread_([this] { serve(); }) {}
    ConcurrentService(const ConcurrentService&) = delete;
    ConcurrentService& operator=(const ConcurrentService&) = delete;
    ~ConcurrentService() {
        stop_.store(true);
        thread_.join();
        for (std::thread& connection : connections_) {
            connection.join();
        }
    }

    std::uint16_t port() const { return listener_.port(); }

  private:
    void serve() {
        while (!stop_.load()) {
            if (std::optional<platform::TcpSocket> connection = listener_.accept(50ms)) {
                connections_.emplace_back([this, socket = std::make_shared<platform::TcpSocket>(
                                                     std::move(*connection))] { answer(*socket); });
            }
        }
    }

    void answer(platform::TcpSocket& connection) {
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos) {
            if (connection.receiveSome(head, 65536, 2s) != platform::IoStatus::Ok) {
                return;
            }
        }
        static_cast<void>(connection.sendAll(responder_(head), 2s));
    }

    Responder responder_;
    platform::TcpListener listener_;
    std::atomic<bool> stop_{false};
    std::vector<std::thread> connections_;
    std::thread thread_;
};

// The buttons come back before the report is sent: a Restart pressed while it is still on its
// way starts a test that rewrites the status files. The earlier test's history line keeps that
// test's own figures, and so does its report.
TEST_F(TestRunFixture, ARestartWhileTheReportIsOnItsWayLeavesTheEarlierTestItsFigures) {
    const std::string reportLog = (folder() / "reports.txt").string();
    const tools::TestServiceConfig config = threeServers(reportLog);
    std::atomic<int> reports{0};
    std::atomic<bool> released{false};
    ConcurrentService service([&](const std::string& head) {
        if (head.rfind(requests::kResultReportPrefix, 0) == 0 && reports.fetch_add(1) == 0) {
            // The next test's clients wait until the test lets them go.
            platform::writeWholeFile("iperf/recorded/hold", "");
            static_cast<void>(waitUntil([&] { return released.load(); }, 30s));
        }
        return tools::answerRequest(config, head, "127.0.0.1");
    });
    ServiceEndpoint endpoint = testing::loopbackEndpoint(service.port());
    endpoint.exchangeTimeout = 60s;
    TestRun run = makeRun(endpoint);

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    ASSERT_TRUE(waitUntil([&] { return reports.load() == 1; }, 60s));
    ASSERT_EQ(window_.look(WindowButton::Restart), "restart visible enabled");
    run.OnBnClickedRestart();
    const auto downloadsUnderWay = [this] {
        const std::vector<std::string> writes = statusWrites();
        return std::count(writes.begin(), writes.end(), "dn_status.txt=1");
    };
    ASSERT_TRUE(waitUntil([&] { return downloadsUnderWay() == 2; }, 30s));
    released.store(true);
    ASSERT_TRUE(waitUntil([&] { return linesOf(fileBytes(reportLog)).size() == 1; }, 30s));
    ASSERT_TRUE(waitUntil([&] { return linesOf(fileBytes(workspace::kHistory)).size() >= 2; }));
    std::filesystem::remove("iperf/recorded/hold");
    EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(true));

    const std::vector<std::string> history = linesOf(fileBytes(workspace::kHistory));
    ASSERT_EQ(history.size(), 3U);
    EXPECT_NE(history[1].find(",40942.00,42955.00,"), std::string::npos) << history[1];
    EXPECT_EQ(history[1].substr(history[1].rfind(',') + 1), "completed");
    EXPECT_NE(
        linesOf(fileBytes(reportLog))[0].find("downloadResult=40942.00&uploadResult=42955.00"),
        std::string::npos);
}

// A peer that drops every connection attempt: it listens with a queue of one that a first
// connection fills and nobody accepts, so that the kernel answers no later attempt.
class DroppingPeer {
  public:
    DroppingPeer() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* where = reinterpret_cast<sockaddr*>(&address);
        if (::bind(listener_, where, length) != 0 || ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, where, &length) != 0 ||
            ::connect(filler_, where, length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    DroppingPeer(const DroppingPeer&) = delete;
    DroppingPeer& operator=(const DroppingPeer&) = delete;
    ~DroppingPeer() {
        ::close(filler_);
        ::close(listener_);
    }

    std::uint16_t port() const { return port_; }

  private:
    int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    std::uint16_t port_ = 0;
};

// The idle latency samples run beside the address lookup and the assignment, bounded as a whole:
// a service that drops the samples' connection attempts does not hold the download back, and its
// idle figure is missing; one that answers has its idle figure.
TEST_F(TestRunFixture, TheIdleSamplesDoNotHoldTheDownloadBack) {
    DroppingPeer dropping;
    ASSERT_NE(dropping.port(), 0);
    for (const bool drops : {true, false}) {
        testing::RunningTestService service(threeServers((folder() / "reports.txt").string()));
        TestRunSettings settings;
        settings.service = service.endpoint();
        settings.timing = TestRunTiming::shortPauses();
        settings.assignments = &assignments_;
        if (drops) {
            settings.lookUpLatencyPeer = [&dropping](const std::string&, std::uint16_t) {
                return platform::resolveAll("127.0.0.1", dropping.port());
            };
        }
        FakeWindow window;
        TestRun run(settings, window, std::make_shared<WindowChannel>(window, runAtOnce()));
        std::filesystem::remove(iperf::downloadProbeOutputPath());

        const testing::RunLogRecorder recorded;
        run.OnBnClickedStart();
        // Ten samples of a dropping service, each waited for in full, would take 20 s.
        EXPECT_TRUE(waitUntil(
            [] { return std::filesystem::exists(iperf::downloadProbeOutputPath()); }, 10s))
            << drops;
        EXPECT_EQ(run.waitForRunsToEnd(60s), std::optional<bool>(true));

        const std::string idle = linesOf(fileBytes(workspace::kLatency)).at(0);
        EXPECT_EQ(idle.rfind("idle - - 0 ", 0) == 0, drops) << idle;
        EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    }
}

// A stand-in iperf3 for the recorded servers whose runs a test shapes: the probe (a run of
// "-t 2") prints probeOutput when one is given, else the recorded output; the stage's run of
// the server named by port waits the seconds given before it prints.
void installShapedStandIn(const std::string& probeOutput, const std::string& latePort,
                          int lateSeconds) {
    if (!probeOutput.empty()) {
        ASSERT_TRUE(platform::writeWholeFile("iperf/recorded/probe.txt", probeOutput));
    }
    ASSERT_TRUE(platform::writeWholeFile(
        workspace::kIperfClient,
        "#!/bin/sh\n"
        "port=; direction=up; seconds=\n"
        "while [ $# -gt 0 ]; do\n"
        "    case \"$1\" in -p) port=$2; shift ;; -t) seconds=$2; shift ;; -R) direction=dn ;; "
        "esac\n"
        "    shift\n"
        "done\n"
        "here=$(dirname \"$0\")\n"
        "if [ \"$seconds\" = 2 ] && [ -e \"$here/recorded/probe.txt\" ]; then\n"
        "    exec cat \"$here/recorded/probe.txt\"\n"
        "fi\n"
        "[ \"$seconds\" = 10 ] && [ \"$port\" = \"" +
            latePort + "\" ] && sleep " + std::to_string(lateSeconds) +
            "\n"
            "exec cat \"$here/recorded/${direction}_${port}.txt\"\n"));
    std::filesystem::permissions(workspace::kIperfClient, std::filesystem::perms::owner_all);
}

std::string figureIn(const std::string& final, const std::string& name) {
    const std::size_t at = final.find(name + "=");
    return at == std::string::npos
               ? std::string()
               : final.substr(at + name.size() + 1, final.find("Mbps", at) - at - name.size() - 1);
}

// One server's run ended two seconds after the others': the servers did not measure over the
// same time, so the sum of their averages counts seconds twice. The figure is taken over the time
// in which any of them measured, wherever the figure goes; the merged files keep their bytes.
TEST_F(TestRunFixture, AFigureOverWindowsThatDoNotCoincideCountsEachSecondOnce) {
    installShapedStandIn("", kRecordedPorts[1], 2);
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(threeServers(reportLog));
    TestRun run = makeRun(service.endpoint());

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(90s);
    const std::string log = recorded.text();
    ASSERT_EQ(completed, std::optional<bool>(true)) << log;

    EXPECT_EQ(fileBytes(workspace::kDownloadSpeed),
              fileBytes(testing::testDataPath("iperf3/dn_speed_merged.txt")));
    EXPECT_EQ(fileBytes(workspace::kUploadSpeed),
              fileBytes(testing::testDataPath("iperf3/up_speed_merged.txt")));
    const std::string final = fileBytes(workspace::kFinal);
    for (const auto& [name, merged, figureFile] :
         {std::tuple{"downloadResult", 40942.0, workspace::kDownloadFigure},
          std::tuple{"uploadResult", 42955.0, workspace::kUploadFigure}}) {
        const std::string figure = figureIn(final, name);
        ASSERT_FALSE(figure.empty()) << final;
        // Ten seconds of each server over at least the twelve in which one of them measured.
        EXPECT_LT(std::stod(figure), merged * 10.1 / 11.8) << name;
        EXPECT_GT(std::stod(figure), merged * 10.0 / 13.5) << name;
        EXPECT_EQ(fileBytes(figureFile), figure);
        EXPECT_NE(fileBytes(reportLog).find(std::string(name) + "=" + figure + "&"),
                  std::string::npos);
        EXPECT_NE(fileBytes(workspace::kHistory).find("," + figure + ","), std::string::npos);
    }
    EXPECT_EQ(occurrences(log, "the servers measured over different times: "), 2U) << log;
}

// A slow line, as the probe tells it: the stage runs a few streams of short writes against as many
// servers as the line carries, and its scripts say so in their described form.
TEST_F(TestRunFixture, ASlowLineRunsParametersFittedToIt) {
    installShapedStandIn(
        "[SUM]   0.00-2.04   sec   240 KBytes  0.96 Mbits/sec                  receiver\n\n"
        "iperf Done.\n",
        "", 0);
    putFile(workspace::kIperfParameters, "-P 20 -l 1024k --forceflush\n");
    testing::RunningTestService service(threeServers((folder() / "reports.txt").string()));
    TestRun run = makeRun(service.endpoint());

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    const std::string log = recorded.text();
    ASSERT_EQ(completed, std::optional<bool>(true)) << log;

    EXPECT_EQ(fileBytes("runDownloadIperf_0.sh"),
              "iperf/iperf3 -c 127.0.0.1 -p 25301 -f m -P 3 -l 8k --forceflush -R -t 10 > "
              "speedTest/dn_speed_0.txt\n");
    EXPECT_EQ(fileBytes("runUploadIperf_0.sh"),
              "iperf/iperf3 -c 127.0.0.1 -p 25301 -f m -P 3 -l 8k --forceflush -t 10 > "
              "speedTest/up_speed_0.txt\n");
    EXPECT_EQ(fileBytes("runDownloadProbe.sh"),
              "iperf/iperf3 -c 127.0.0.1 -p 25301 -f m -P 2 -l 16k --forceflush -R -t 2 > "
              "speedTest/dn_probe.txt\n");
    EXPECT_EQ(fileBytes(workspace::kDownloadServers), "1/1");
    EXPECT_EQ(fileBytes(workspace::kUploadServers), "1/1");
    EXPECT_NE(log.find("end probe download: 0.96 Mbits/sec"), std::string::npos) << log;
    EXPECT_NE(log.find("the line carries the streams of 1 of 3 servers: uploadTest runs against "
                       "those"),
              std::string::npos)
        << log;
    // The report still names every assigned server.
    EXPECT_EQ(fileBytes(workspace::kFinal).rfind("Server IP=127.0.0.1,127.0.0.1,127.0.0.1, ", 0),
              0U);
}

// Short pauses end a stage's pause once its scripts have ended, not at once: a run that outlives
// its script's wait still counts when it ends within the pause.
TEST_F(TestRunFixture, ShortPausesWaitForALateFinisher) {
    installShapedStandIn("", kRecordedPorts[2], 2);
    testing::RunningTestService service(threeServers((folder() / "reports.txt").string()));
    TestRunTiming timing = TestRunTiming::shortPauses();
    timing.scriptWait = 500ms;
    TestRun run = makeRun(service.endpoint(), timing);

    const testing::RunLogRecorder recorded;
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    const std::string log = recorded.text();
    ASSERT_EQ(completed, std::optional<bool>(true)) << log;

    EXPECT_EQ(fileBytes(workspace::kDownloadServers), "3/3") << log;
    EXPECT_EQ(fileBytes(workspace::kUploadServers), "3/3") << log;
    EXPECT_EQ(fileBytes(workspace::kDownloadSpeed),
              fileBytes(testing::testDataPath("iperf3/dn_speed_merged.txt")));
}

}  // namespace
}  // namespace kestova
