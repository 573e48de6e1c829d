#include "testrun/TestHistory.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "support/InTimeZone.h"
#include "support/ProgramFolderFixture.h"
#include "support/TestData.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

// 2026-12-10 13:10:55 UTC.
constexpr std::time_t kEnded = 1796908255;

using testing::InTimeZone;

struct LineCase {
    const char* name;
    // The stage files the test left (status, merged text) and what it measured.
    std::string downloadStatus;
    std::string downloadMerged;
    std::string uploadStatus;
    std::string uploadMerged;
    TestMeasures measures;
    bool completed;
    std::string line;
};

TestMeasures measured(std::optional<ServerCount> download, std::optional<ServerCount> upload) {
    TestMeasures measures;
    measures.idle = latencyFiguresOf({0.5, 0.25, std::nullopt});
    measures.download = latencyFiguresOf({12.0, 14.0});
    measures.upload = latencyFiguresOf({std::nullopt});
    measures.downloadServers = download;
    measures.uploadServers = upload;
    return measures;
}

const std::string kMerged =
    "[SUM] 0.00-10.00 sec 1.09 GBytes 938.50 Mbits/sec receiver \n\niperf Done.";

class HistoryLine : public testing::ProgramFolderTest,
                    public ::testing::WithParamInterface<LineCase> {};

TEST_P(HistoryLine, TellsTheTestThatEnded) {
    const LineCase& c = GetParam();
    putFile(workspace::kDownloadStatus, c.downloadStatus);
    putFile(workspace::kDownloadSpeed, c.downloadMerged);
    putFile(workspace::kUploadStatus, c.uploadStatus);
    putFile(workspace::kUploadSpeed, c.uploadMerged);
    const InTimeZone zone("UTC0");
    EXPECT_EQ(historyLine(historyOfStages(c.measures, c.completed, kEnded)), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryLine,
    ::testing::Values(
        LineCase{"completed", "2", kMerged, "2",
                 "[SUM] 0.00-10.00 sec 1 GBytes 40.00 Mbits/sec receiver \n\niperf Done.",
                 measured(ServerCount{3, 3}, ServerCount{2, 3}), true,
                 "2026-12-10T13:10:55+00:00,938.50,40.00,0.38,13.00,,2/3,completed\n"},
        LineCase{"upload_failed", "2", kMerged, "-1", "",
                 measured(ServerCount{1, 2}, ServerCount{0, 2}), false,
                 "2026-12-10T13:10:55+00:00,938.50,,0.38,13.00,,0/2,e003\n"},
        LineCase{"download_failed", "-1", "", "-1", "", measured(ServerCount{0, 2}, std::nullopt),
                 false, "2026-12-10T13:10:55+00:00,,,0.38,13.00,,0/2,e002\n"},
        LineCase{"figure_that_is_no_number_is_left_empty", "2",
                 "[SUM] 0.00-10.00 sec 1.09 GBytes 9,5 Mbits/sec receiver \n\niperf Done.", "2", "",
                 measured(ServerCount{1, 1}, ServerCount{1, 1}), false,
                 "2026-12-10T13:10:55+00:00,,,0.38,13.00,,1/1,e003\n"}),
    [](const auto& param) { return std::string(param.param.name); });

class HistoryFile : public testing::ProgramFolderTest {
  protected:
    static HistoryEntry failedAssignment() {
        const InTimeZone zone("UTC0");
        return historyWithoutStages("e001", kEnded);
    }
};

TEST_F(HistoryFile, IsCreatedWithItsHeaderAndGrowsByOneLinePerTest) {
    EXPECT_EQ(historyLine(failedAssignment()), "2026-12-10T13:10:55+00:00,,,,,,,e001\n");
    ASSERT_TRUE(appendToHistory(failedAssignment()));
    ASSERT_TRUE(appendToHistory(failedAssignment()));
    EXPECT_EQ(fileBytes(workspace::kHistory), std::string(kHistoryHeader) + "\n" +
                                                  historyLine(failedAssignment()) +
                                                  historyLine(failedAssignment()));
}

TEST_F(HistoryFile, ALastLineWithoutItsLineFeedStaysALineOfItsOwn) {
    putFile(workspace::kHistory, std::string(kHistoryHeader) + "\nhalf a line");
    ASSERT_TRUE(appendToHistory(failedAssignment()));
    EXPECT_EQ(fileBytes(workspace::kHistory),
              std::string(kHistoryHeader) + "\nhalf a line\n" + historyLine(failedAssignment()));
}

// How many test lines stand after the header before a test is appended, and the number of the
// first of them kept after it (the appended test's line is kept after them).
struct KeptCase {
    const char* name;
    std::size_t before;
    std::size_t firstKept;
};

class HistoryKept : public HistoryFile, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(HistoryKept, IsTheLastThousandTestsAfterTheHeader) {
    std::string history = std::string(kHistoryHeader) + "\n";
    for (std::size_t test = 1; test <= GetParam().before; ++test) {
        history += "test " + std::to_string(test) + "\n";
    }
    putFile(workspace::kHistory, history);
    ASSERT_TRUE(appendToHistory(failedAssignment()));
    std::string expected = std::string(kHistoryHeader) + "\n";
    for (std::size_t test = GetParam().firstKept; test <= GetParam().before; ++test) {
        expected += "test " + std::to_string(test) + "\n";
    }
    expected += historyLine(failedAssignment());
    EXPECT_EQ(fileBytes(workspace::kHistory), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, HistoryKept,
                         ::testing::Values(KeptCase{"none_before", 0, 1},
                                           KeptCase{"one_short_of_the_bound", 999, 1},
                                           KeptCase{"at_the_bound_the_oldest_goes", 1000, 2},
                                           KeptCase{"far_beyond_the_bound", 2500, 1502}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(HistoryFile, WhatCannotBeReadOrWrittenWholeIsLeftAsItWas) {
    // Not readable: a folder where the file should be.
    std::filesystem::create_directory(workspace::kHistory);
    EXPECT_FALSE(appendToHistory(failedAssignment()));
    EXPECT_TRUE(std::filesystem::is_directory(workspace::kHistory));
    std::filesystem::remove(workspace::kHistory);

    // No workspace: nothing is created.
    std::filesystem::remove_all(workspace::kFolder);
    EXPECT_FALSE(appendToHistory(failedAssignment()));
    EXPECT_FALSE(std::filesystem::exists(workspace::kFolder));
}

// A history that stands but cannot be read is not replaced by a new file holding only the header
// and this test: the tests it holds would be lost. Each case puts something unreadable at the
// name and tells what must still stand there afterwards.
TEST_F(HistoryFile, AHistoryThatCannotBeReadIsNotReplaced) {
    const std::string history = std::string(kHistoryHeader) + "\nan earlier test\n";
    const struct {
        const char* name;
        std::function<bool()> plant;  // false when the case cannot be made here
        std::function<bool()> stillThere;
    } cases[] = {
        {"a pipe", [] { return ::mkfifo(workspace::kHistory, 0600) == 0; },
         [] { return std::filesystem::is_fifo(workspace::kHistory); }},
        // Root reads whatever its mode says; others cannot.
        {"a file it may not read",
         [&] {
             putFile(workspace::kHistory, history);
             std::filesystem::permissions(workspace::kHistory, std::filesystem::perms::none);
             return ::geteuid() != 0;
         },
         [&] {
             std::filesystem::permissions(workspace::kHistory, std::filesystem::perms::owner_read);
             return fileBytes(workspace::kHistory) == history;
         }},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(workspace::kHistory);
        if (!c.plant()) {
            continue;
        }
        EXPECT_FALSE(appendToHistory(failedAssignment())) << c.name;
        EXPECT_TRUE(c.stillThere()) << c.name;
        EXPECT_FALSE(std::filesystem::exists(std::string(workspace::kHistory) + ".new")) << c.name;
    }
}

TEST_F(HistoryFile, AFullWorkspaceKeepsTheHistoryItHad) {
    if (::geteuid() != 0 || ::mount("tmpfs", workspace::kFolder, "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "needs root and the right to mount";
    }
    const std::string history =
        std::string(kHistoryHeader) + "\n" + std::string(20 * 1024, 'h') + "\n";
    putFile(workspace::kHistory, history);
    putFile("speedTest/filler", std::string(200 * 1024, 'f'));  // stops where the space ends
    const bool appended = appendToHistory(failedAssignment());
    const std::string after = fileBytes(workspace::kHistory);
    const bool copyLeft = std::filesystem::exists(std::string(workspace::kHistory) + ".new");
    ::umount2(workspace::kFolder, MNT_DETACH);
    EXPECT_FALSE(appended);
    EXPECT_EQ(after, history);
    EXPECT_FALSE(copyLeft);
}

}  // namespace
}  // namespace kestova
