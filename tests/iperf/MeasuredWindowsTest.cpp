#include "iperf/MeasuredWindows.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/TextFile.h"
#include "support/TestData.h"

namespace kestova::iperf {
namespace {

struct WindowsCase {
    const char* name;
    std::vector<MeasuredWindow> windows;
    std::string merged;
    std::string figure;
    bool explained;
};

class StageFigureOfWindows : public ::testing::TestWithParam<WindowsCase> {};

TEST_P(StageFigureOfWindows, CountsEachSecondOnce) {
    const WindowsCase& c = GetParam();
    const StageFigure figure = stageFigureOf(c.merged, c.windows);
    EXPECT_EQ(figure.text, c.figure);
    EXPECT_EQ(figure.explanation.has_value(), c.explained);
    if (figure.explanation) {
        EXPECT_NE(figure.explanation->find(c.figure), std::string::npos) << *figure.explanation;
        EXPECT_NE(figure.explanation->find(c.merged), std::string::npos) << *figure.explanation;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StageFigureOfWindows,
    ::testing::Values(
        // Where the servers measured together, the merged figure stands to the byte.
        WindowsCase{
            "same_time", {{{940, 10.0}, 1.0}, {{938.5, 10.0}, 1.1}}, "1878.50", "1878.50", false},
        WindowsCase{"within_a_quarter_second",
                    {{{5, 10.0}, 1.0}, {{5, 10.0}, 1.25}},
                    "10.00",
                    "10.00",
                    false},
        WindowsCase{"one_server", {{{0.96, 10.05}, 1.95}}, "0.96", "0.96", false},
        WindowsCase{"windows_unknown", {}, "10.91", "10.91", false},
        WindowsCase{
            "no_merged_figure", {{{5, 10.0}, 1.0}, {{5, 10.0}, 4.0}}, "error", "error", false},
        // A server that began three seconds late: each had the line to itself for three
        // seconds, so the sum of their averages is 1.3 times the line; over the 13 seconds in
        // which either measured, they received 10 Mbit/s.
        WindowsCase{"three_seconds_apart",
                    {{{6.5, 10.0}, 1.0}, {{6.5, 10.0}, 4.0}},
                    "13.00",
                    "10.00",
                    true},
        // Windows of different lengths that start together but end apart.
        WindowsCase{"ends_apart", {{{10, 10.0}, 0.0}, {{5, 8.0}, 0.0}}, "15.00", "14.00", true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(StageFigureOfWindows, NeverExceedsTheMergedFigure) {
    // Windows that do not coincide by their starts though their union is no longer than the
    // longest one: the figure over them is the merged one at most.
    const std::vector<MeasuredWindow> windows = {{{3, 10.0}, 0.0}, {{3, 1.0}, 4.0}};
    EXPECT_EQ(stageFigureOf("6.00", windows).text, "3.30");
    EXPECT_EQ(stageFigureOf("3.10", windows).text, "3.10");
}

TEST(ReceiverTotal, IsTheLastSummaryReceiverLineBeforeTheMarker) {
    const auto recorded =
        receiverTotalOf(platform::readLines(testing::testDataPath("iperf3/up_speed_0.txt")));
    ASSERT_TRUE(recorded);
    EXPECT_DOUBLE_EQ(recorded->mbps, 16784);
    EXPECT_DOUBLE_EQ(recorded->seconds, 10.01);

    EXPECT_FALSE(receiverTotalOf(
        {"[SUM]   0.00-10.00  sec  11 MBytes  9.3 Mbits/sec  0  sender", "iperf Done."}));
    EXPECT_FALSE(receiverTotalOf({"iperf Done.",
                                  "[SUM] 0.00-2.00 sec 1 MBytes 4 Mbits/sec "
                                  "receiver"}));
    const auto probe = receiverTotalOf(
        {"[SUM]   0.00-2.04   sec   240 KBytes  0.96 Mbits/sec                  receiver", "",
         "iperf Done."});
    ASSERT_TRUE(probe);
    EXPECT_DOUBLE_EQ(probe->mbps, 0.96);
    EXPECT_DOUBLE_EQ(probe->seconds, 2.04);
}

}  // namespace
}  // namespace kestova::iperf
