// The progress line that a terminal shows, for each moment of a test.
#include "app/TerminalProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestova {
namespace {

const std::vector<std::string> kDownloadAtSecond4 = {"1.00 801.20", "2.00 815.44", "3.00 809.90",
                                                     "4.00 812.34"};
const std::vector<std::string> kDownloadWhole = {"1.00 40100.00", "9.00 40960.00",
                                                 "10.00 40990.02"};
const std::vector<std::string> kUploadAtSecond3 = {"1.00 41800.50", "2.00 42990.25",
                                                   "3.00 42870.75"};

struct LineCase {
    const char* name;
    const char* downloadStatus;
    const char* uploadStatus;
    std::vector<std::string> downloadLive;
    std::vector<std::string> uploadLive;
    const char* line;
};

class ProgressLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressLine, SaysTheStageTheSecondAndTheTotal) {
    const LineCase& c = GetParam();
    EXPECT_EQ(progressLine(c.downloadStatus, c.uploadStatus, c.downloadLive, c.uploadLive), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, ProgressLine,
    ::testing::Values(
        LineCase{"before_any_test", "0", "0", {}, {}, ""},
        // The last test's lines stay in the files until a stage empties them.
        LineCase{"download_starting", "1", "0", {}, kUploadAtSecond3, "Download: starting"},
        LineCase{"download_at_second_4",
                 "1",
                 "0",
                 kDownloadAtSecond4,
                 {},
                 "Download: second 4, 812.34 Mbit/s"},
        LineCase{"download_at_its_last_second",
                 "1",
                 "0",
                 kDownloadWhole,
                 {},
                 "Download: second 10, 40990.02 Mbit/s"},
        LineCase{"a_short_last_interval",
                 "1",
                 "0",
                 {"9.00 500.00", "10.02 12.50"},
                 {},
                 "Download: second 10, 12.50 Mbit/s"},
        LineCase{"lines_of_another_shape_passed_over",
                 "1",
                 "0",
                 {"3.00 809.90", "4.00", "4.00 x", "garbage", ""},
                 {},
                 "Download: second 3, 809.90 Mbit/s"},
        LineCase{"only_lines_of_another_shape", "1", "0", {"half"}, {}, "Download: starting"},
        LineCase{"upload_starting", "2", "1", kDownloadWhole, {}, "Upload: starting"},
        LineCase{"upload_at_second_3", "2", "1", kDownloadWhole, kUploadAtSecond3,
                 "Upload: second 3, 42870.75 Mbit/s"},
        LineCase{"both_completed", "2", "2", kDownloadWhole, kUploadAtSecond3, ""},
        LineCase{"download_failed", "-1", "-1", kDownloadAtSecond4, {}, ""},
        LineCase{"upload_failed", "2", "-1", kDownloadWhole, kUploadAtSecond3, ""}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kestova
