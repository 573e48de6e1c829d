#include "iperf/SpeedFileMerge.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/SystemSpelling.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunLogRecorder.h"
#include "support/TestData.h"

namespace kestova {
namespace {

const CollectedOutput kServerA = {
    "Connecting to host 10.0.0.1, port 5201",
    "[ ID] Interval           Transfer     Bitrate",
    "[  5]   0.00-1.00   sec  56.0 MBytes   470 Mbits/sec",
    "[SUM]   0.00-1.00   sec   112 MBytes   940 Mbits/sec",
    "[SUM]   0.00-10.00  sec  1.09 GBytes   940 Mbits/sec    0             sender",
    "[SUM]   0.00-10.00  sec  1.09 GBytes   938.5 Mbits/sec                  receiver",
    "",
    "iperf Done."};

CollectedOutput withLine(CollectedOutput output, std::size_t at, const std::string& line) {
    output.insert(output.begin() + static_cast<std::ptrdiff_t>(at), line);
    return output;
}

CollectedOutput replaced(CollectedOutput output, std::size_t at, const std::string& line) {
    output.at(at) = line;
    return output;
}

// The run log names each output as the system does: "speedTest\\dn_speed_0.txt" on Windows.
#ifdef _WIN32
constexpr const char* kOutputs = "speedTest\\";
#else
constexpr const char* kOutputs = "speedTest/";
#endif

const std::string kSingleA =
    "[SUM] 0.00-1.00 sec 112 MBytes 940.00 Mbits/sec \n"
    "[SUM] 0.00-10.00 sec 1.09 GBytes 940.00 Mbits/sec 0 sender \n"
    "[SUM] 0.00-10.00 sec 1.09 GBytes 938.50 Mbits/sec receiver \n"
    "\n"
    "iperf Done.";

const std::string kDoubleA =
    "[SUM] 0.00-1.00 sec 112 MBytes 1880.00 Mbits/sec \n"
    "[SUM] 0.00-10.00 sec 1.09 GBytes 1880.00 Mbits/sec 0 sender \n"
    "[SUM] 0.00-10.00 sec 1.09 GBytes 1877.00 Mbits/sec receiver \n"
    "\n"
    "iperf Done.";

struct MergeCase {
    const char* name;
    std::vector<CollectedOutput> outputs;
    std::string merged;
};

class MergeOutputs : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeOutputs, SumsTheBitratesOfEverySummaryLine) {
    EXPECT_EQ(mergeCollectedOutputs(GetParam().outputs), GetParam().merged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeOutputs,
    ::testing::Values(
        MergeCase{"nothing_collected", {}, ""},
        MergeCase{"one_output_gets_two_decimals", {kServerA}, kSingleA},
        MergeCase{"two_outputs_add_up", {kServerA, kServerA}, kDoubleA},
        MergeCase{"940_and_938_5",
                  {{"[SUM] 0.00-1.00 sec 112 MBytes 940 Mbits/sec", "iperf Done."},
                   {"[SUM] 0.00-1.00 sec 110 MBytes 938.5 Mbits/sec", "iperf Done."}},
                  "[SUM] 0.00-1.00 sec 112 MBytes 1878.50 Mbits/sec \n\niperf Done."},
        MergeCase{"tabs_and_spaces_become_single_spaces",
                  {{"  [SUM]\t 0.00-1.00 \t\tsec   112 MBytes\t940 Mbits/sec   ", "iperf Done."}},
                  "[SUM] 0.00-1.00 sec 112 MBytes 940.00 Mbits/sec \n\niperf Done."},
        MergeCase{"carriage_returns_read_as_white_space",
                  {{"[SUM] 0.00-1.00 sec 112 MBytes 940 Mbits/sec\r", "iperf Done.\r"}},
                  "[SUM] 0.00-1.00 sec 112 MBytes 940.00 Mbits/sec \n\niperf Done."},
        // A warning line in one output must not shift which lines are added together.
        MergeCase{"extra_line_in_a_later_output",
                  {kServerA, withLine(kServerA, 3, "warning: unable to set socket buffer size")},
                  kDoubleA},
        MergeCase{"extra_line_in_the_first_output",
                  {withLine(kServerA, 2, "[  7]   0.00-1.00   sec  56.0 MBytes   470 Mbits/sec"),
                   kServerA},
                  kDoubleA},
        // Servers run with different stream counts (a slow line's fitted parameters): the k-th
        // line of each output is then a stream's line in one and a summary in another, so the
        // merge adds the k-th summary line of each, never the k-th line.
        MergeCase{
            "outputs_with_different_stream_counts",
            {kServerA,
             {"Connecting to host 10.0.0.2, port 5201",
              "[ ID] Interval           Transfer     Bitrate",
              "[  5]   0.00-1.00   sec  28.0 MBytes   235 Mbits/sec",
              "[  7]   0.00-1.00   sec  28.0 MBytes   235 Mbits/sec",
              "[  9]   0.00-1.00   sec  28.0 MBytes   235 Mbits/sec",
              "[SUM]   0.00-1.00   sec  84.0 MBytes   705 Mbits/sec",
              "[SUM]   0.00-10.00  sec   840 MBytes   705 Mbits/sec    0             sender",
              "[SUM]   0.00-10.00  sec   838 MBytes   700 Mbits/sec                  receiver", "",
              "iperf Done."}},
            "[SUM] 0.00-1.00 sec 112 MBytes 1645.00 Mbits/sec \n"
            "[SUM] 0.00-10.00 sec 1.09 GBytes 1645.00 Mbits/sec 0 sender \n"
            "[SUM] 0.00-10.00 sec 1.09 GBytes 1638.50 Mbits/sec receiver \n"
            "\n"
            "iperf Done."},
        MergeCase{
            "shorter_output_adds_to_the_lines_it_has",
            {kServerA, {"[SUM]   0.00-1.00   sec   112 MBytes   940 Mbits/sec", "iperf Done."}},
            "[SUM] 0.00-1.00 sec 112 MBytes 1880.00 Mbits/sec \n"
            "[SUM] 0.00-10.00 sec 1.09 GBytes 940.00 Mbits/sec 0 sender \n"
            "[SUM] 0.00-10.00 sec 1.09 GBytes 938.50 Mbits/sec receiver \n"
            "\n"
            "iperf Done."},
        MergeCase{"not_a_number_adds_nothing",
                  {kServerA, replaced(kServerA, 3, "[SUM] 0.00-1.00 sec 1 MBytes abc Mbits/sec"),
                   replaced(kServerA, 3, "[SUM] 0.00-1.00 sec 1 MBytes inf Mbits/sec"),
                   replaced(kServerA, 3, "[SUM] 0.00-1.00 sec 1 MBytes 0x10 Mbits/sec")},
                  "[SUM] 0.00-1.00 sec 112 MBytes 940.00 Mbits/sec \n"
                  "[SUM] 0.00-10.00 sec 1.09 GBytes 3760.00 Mbits/sec 0 sender \n"
                  "[SUM] 0.00-10.00 sec 1.09 GBytes 3754.00 Mbits/sec receiver \n"
                  "\n"
                  "iperf Done."},
        MergeCase{"unit_as_first_token_and_line_without_unit",
                  {{"[SUM]", "Mbits/sec [SUM] 5", "[SUM] 1-2 sec 3 MBytes", "iperf Done."}},
                  "[SUM] \nMbits/sec [SUM] 5 \n[SUM] 1-2 sec 3 MBytes \n\niperf Done."},
        MergeCase{"two_bitrates_on_a_line_share_the_sum",
                  {{"[SUM] 1 Mbits/sec 2 Mbits/sec", "iperf Done."}},
                  "[SUM] 3.00 Mbits/sec 3.00 Mbits/sec \n\niperf Done."}),
    [](const auto& param) { return std::string(param.param.name); });

class MergeSpeedFile : public testing::ProgramFolderTest {
  protected:
    static void copyRecorded(const std::string& name, const std::string& as) {
        std::filesystem::copy_file(testing::testDataPath("iperf3/" + name), "speedTest/" + as);
    }
    static std::string merge(const std::string& baseName, std::size_t servers) {
        const testing::RunLogRecorder recorded;
        mergeSpeedFile(baseName, servers);
        return recorded.text();
    }
};

TEST_F(MergeSpeedFile, ThreeRecordedOutputsMergeIntoTheExpectedFile) {
    for (const char* name : {"dn_speed_0.txt", "dn_speed_1.txt", "dn_speed_2.txt"}) {
        copyRecorded(name, name);
    }
    const std::string expected =
        fileBytes(testing::testDataPath("iperf3/dn_speed_merged.txt").string());
    const std::string log = merge("dn_speed", 3);
    // Written as a text file of the system: on Windows each line feed is stored as CR LF.
    EXPECT_EQ(fileBytes("speedTest/dn_speed.txt"), platform::asStoredText(expected));
    std::string found;
    for (const char* name : {"dn_speed_0.txt", "dn_speed_1.txt", "dn_speed_2.txt"}) {
        found.append(kOutputs).append(name).append(" iperf Done. found\n");
    }
    found.append("start merge speed file: dn_speed total line: 3\nfile content result:\n");
    EXPECT_EQ(log, found.append(expected).append("\n"));
    // The receivers' totals were 12710, 13680 and 14552 Mbits/sec.
    EXPECT_NE(expected.find("[SUM] 0.00-10.00 sec 14.8 GBytes 40942.00 Mbits/sec receiver \n\n"
                            "iperf Done."),
              std::string::npos);
}

TEST_F(MergeSpeedFile, OnlyCompleteOutputsAreMerged) {
    copyRecorded("up_speed_1.txt", "up_speed_1.txt");
    const std::string incomplete =
        fileBytes(testing::testDataPath("iperf3/up_speed_2.txt").string());
    putFile("speedTest/up_speed_2.txt", incomplete.substr(0, incomplete.find("iperf Done.")));
    const std::string log = merge("up_speed", 3);
    EXPECT_EQ(log.substr(0, log.find("file content")),
              std::string(kOutputs) +
                  "up_speed_1.txt iperf Done. found\n"
                  "start merge speed file: up_speed total line: 1\n");
    const std::string merged = fileBytes("speedTest/up_speed.txt");
    EXPECT_NE(merged.find(platform::asStoredText(
                  "[SUM] 0.00-10.01 sec 14.9 GBytes 12800.00 Mbits/sec receiver \n\niperf Done.")),
              std::string::npos)
        << merged;
}

TEST_F(MergeSpeedFile, AnOutputWithTwoMarkerLinesIsCollectedTwice) {
    putFile("speedTest/dn_speed_0.txt",
            "[SUM] 0-1 sec 1 MBytes 10 Mbits/sec\niperf Done.\n[SUM] 1-2 sec 1 MBytes 5 "
            "Mbits/sec\niperf Done.\n");
    const std::string log = merge("dn_speed", 1);
    EXPECT_NE(log.find("total line: 2\n"), std::string::npos);
    // The first collected output ends at the first marker: only its summary line is merged.
    EXPECT_EQ(fileBytes("speedTest/dn_speed.txt"),
              platform::asStoredText("[SUM] 0-1 sec 1 MBytes 20.00 Mbits/sec \n\niperf Done."));
}

TEST_F(MergeSpeedFile, NoServersLeaveAnEmptyMergedFile) {
    putFile("speedTest/dn_speed.txt", "old result");
    EXPECT_EQ(merge("dn_speed", 0), "start merge speed file: dn_speed total line: 0\n");
    EXPECT_EQ(fileBytes("speedTest/dn_speed.txt"), "");
}

}  // namespace
}  // namespace kestova
