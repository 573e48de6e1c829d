#include "testrun/TestStages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/FakeWindow.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunLogRecorder.h"
#include "support/ServiceReplies.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

enum class Check { Download, Upload };

struct CheckCase {
    const char* name;
    Check check;
    std::optional<std::string> merged;
    std::vector<std::string> writes;
    bool uploadStageRan;
};

class StageChecks : public testing::ProgramFolderTest,
                    public ::testing::WithParamInterface<CheckCase> {};

TEST_P(StageChecks, JudgeTheMergedFileAndEndOrChainTheRun) {
    const CheckCase& c = GetParam();
    if (c.merged) {
        putFile(c.check == Check::Download ? workspace::kDownloadSpeed : workspace::kUploadSpeed,
                *c.merged);
    }
    std::mutex lock;
    std::vector<std::string> writes;
    observeStatusWrites([&](const std::string& path, std::string_view value) {
        const std::string name = std::filesystem::path(path).filename().string();
        if (name.find("status") != std::string::npos || name == "error.txt") {
            const std::lock_guard<std::mutex> guard(lock);
            writes.push_back(name + "=" + std::string(value));
        }
    });
    testing::FakeWindow window;
    StageRun run{{},
                 testing::unresolvableEndpoint(),
                 TestRunTiming::shortPauses(),
                 std::make_shared<WindowChannel>(window, runAtOnce())};
    const testing::RunLogRecorder recorded;
    const bool completed =
        c.check == Check::Download ? checkDownloadResult(run) : checkUploadResult(run);
    const std::string log = recorded.text();
    observeStatusWrites({});

    EXPECT_EQ(writes, c.writes);
    EXPECT_EQ(completed, c.check == Check::Upload && c.writes.back() == "up_status.txt=2");
    EXPECT_EQ(log.find("start run uploadTest") != std::string::npos, c.uploadStageRan);
    // Every ending gives the buttons back, once.
    EXPECT_EQ(window.operations(),
              (std::vector<std::string>{"hide start", "show restart", "enable cancel"}));
}

const std::string kDone = "[SUM] 0-10 sec 1 GBytes 940.00 Mbits/sec receiver \n\niperf Done.";
const std::vector<std::string> kDownloadFailed = {"dn_status.txt=-1", "up_status.txt=-1",
                                                  "error.txt=e002"};

INSTANTIATE_TEST_SUITE_P(
    Cases, StageChecks,
    ::testing::Values(
        // The upload stage that follows has no servers here, so it fails in its turn.
        CheckCase{"download_completed_chains_the_upload",
                  Check::Download,
                  kDone,
                  {"dn_status.txt=2", "up_status.txt=1", "up_status.txt=-1", "error.txt=e003"},
                  true},
        CheckCase{"download_empty", Check::Download, "", kDownloadFailed, false},
        CheckCase{"download_missing", Check::Download, std::nullopt, kDownloadFailed, false},
        CheckCase{"marker_inside_other_text",
                  Check::Download,
                  "x iperf Done. y",
                  {"dn_status.txt=2", "up_status.txt=1", "up_status.txt=-1", "error.txt=e003"},
                  true},
        CheckCase{"marker_in_other_letter_case", Check::Download, "iperf done.", kDownloadFailed,
                  false},
        CheckCase{"two_marker_lines_write_two_twice",
                  Check::Download,
                  "iperf Done.\niperf Done.\n",
                  {"dn_status.txt=2", "dn_status.txt=2", "up_status.txt=1", "up_status.txt=-1",
                   "error.txt=e003"},
                  true},
        CheckCase{"upload_completed", Check::Upload, kDone, {"up_status.txt=2"}, false},
        CheckCase{
            "upload_empty", Check::Upload, "", {"up_status.txt=-1", "error.txt=e003"}, false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestova
