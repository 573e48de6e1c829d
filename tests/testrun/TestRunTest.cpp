#include "testrun/TestRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/ServerAssignment.h"
#include "support/FakeWindow.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunningTestService.h"
#include "support/ServiceReplies.h"
#include "support/TestData.h"
#include "testrun/StatusFile.h"
#include "testrun/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using testing::FakeWindow;

const std::vector<std::string> kPorts = {"25301", "25302", "25303"};

// A program folder with a stand-in iperf3 that prints the recorded outputs of three servers, and
// a test run on a fake window whose every status write is recorded.
class TestRunFixture : public testing::ProgramFolderTest {
protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        std::filesystem::create_directories("iperf/recorded");
        std::filesystem::copy_file(testing::testDataPath("iperf3/stand-in-iperf3.sh"),
                                   workspace::kIperfClient);
        std::filesystem::permissions(workspace::kIperfClient, std::filesystem::perms::owner_all);
        for (std::size_t i = 0; i < kPorts.size(); ++i) {
            for (const std::string direction : {"dn", "up"}) {
                std::filesystem::copy_file(
                    testing::testDataPath("iperf3/" + direction + "_speed_" + std::to_string(i) +
                                          ".txt"),
                    "iperf/recorded/" + direction + "_" + kPorts[i] + ".txt");
            }
        }
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

    TestRun makeRun(const ServiceEndpoint& endpoint) {
        TestRunSettings settings;
        settings.service = endpoint;
        settings.timing = TestRunTiming::shortPauses();
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
    for (const std::string& port : kPorts) {
        config.servers.push_back("127.0.0.1:" + port);
    }
    config.reportLog = reportLog;
    return config;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
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

TEST_F(TestRunFixture, AWholeRunWithThreeServers) {
    const std::string reportLog = (folder() / "reports.txt").string();
    testing::RunningTestService service(threeServers(reportLog));
    TestRun run = makeRun(service.endpoint());

    ::testing::internal::CaptureStdout();
    run.OnBnClickedStart();
    const std::optional<bool> completed = run.waitForRunsToEnd(60s);
    const std::string log = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(completed, std::optional<bool>(true));

    EXPECT_EQ(statusWrites(), (std::vector<std::string>{"dn_status.txt=1", "up_status.txt=0",
                                                        "dn_status.txt=2", "up_status.txt=1",
                                                        "up_status.txt=2"}));
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
            const auto workerStart = at("start run run" + stage + "Iperf index:" + std::to_string(i));
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

}  // namespace
}  // namespace kestova
