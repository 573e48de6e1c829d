#include "iperf/LiveTotals.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "iperf/LiveFollower.h"
#include "iperf/SpeedFileMerge.h"
#include "iperf/SummaryLines.h"
#include "platform/TextFile.h"
#include "support/MergedIntervals.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunLogRecorder.h"
#include "support/TestData.h"
#include "support/WaitUntil.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;

std::string recorded(const std::string& name) {
    return platform::readWholeFile(testing::testDataPath("iperf3/" + name).string()).value_or("");
}

struct IntervalEndCase {
    const char* name;
    std::string line;
    std::optional<std::string> end;
};

class IntervalEnd : public ::testing::TestWithParam<IntervalEndCase> {};

TEST_P(IntervalEnd, IsReadOffPerIntervalSummaryLinesOnly) {
    const std::optional<std::string_view> end = iperf::intervalEndOf(GetParam().line);
    EXPECT_EQ(end ? std::optional<std::string>(*end) : std::nullopt, GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntervalEnd,
    ::testing::Values(
        IntervalEndCase{"download_interval",
                        "[SUM]   0.00-1.00   sec  1.60 GBytes  13712 Mbits/sec      ", "1.00"},
        IntervalEndCase{"upload_interval_with_retransmissions",
                        "[SUM]   4.00-5.01   sec  1.87 GBytes  42918 Mbits/sec    0  ", "5.01"},
        IntervalEndCase{"timestamps_before_the_tag",
                        "Thu Dec 10 13:10:55 2026 [SUM]   9.01-10.01 sec 1 GBytes 9 Mbits/sec",
                        "10.01"},
        IntervalEndCase{"sender_total",
                        "[SUM]   0.00-10.01  sec  19.6 GBytes  16793 Mbits/sec    1    sender",
                        std::nullopt},
        IntervalEndCase{"receiver_total",
                        "[SUM]   0.00-10.01  sec  19.6 GBytes  16784 Mbits/sec   receiver",
                        std::nullopt},
        IntervalEndCase{"tag_alone", "[SUM]", std::nullopt},
        IntervalEndCase{"no_interval_after_the_tag", "[SUM] sec 1 MBytes 5 Mbits/sec",
                        std::nullopt},
        IntervalEndCase{"interval_without_end", "[SUM] 0.00- sec 1 MBytes 5 Mbits/sec",
                        std::nullopt},
        IntervalEndCase{"interval_of_words", "[SUM] a-b sec 1 MBytes 5 Mbits/sec", std::nullopt}),
    [](const auto& param) { return std::string(param.param.name); });

// The three recorded servers of each direction, merged and followed.
class StageIntervals : public testing::ProgramFolderTest,
                       public ::testing::WithParamInterface<const char*> {
  protected:
    std::string base() const { return GetParam(); }
    std::string output(std::size_t index) const {
        return recorded(base() + "_" + std::to_string(index) + ".txt");
    }
    std::string outputPath(std::size_t index) const {
        return "speedTest/" + base() + "_" + std::to_string(index) + ".txt";
    }
};

TEST_P(StageIntervals, TheMergeGivesTheMergedFilesPerIntervalTotals) {
    for (std::size_t index = 0; index < 3; ++index) {
        putFile(outputPath(index), output(index));
    }
    const testing::RunLogRecorder recorded;
    const StageMerge merge = mergeSpeedFile(base(), 4);
    EXPECT_EQ(merge.serversRun, 4U);
    EXPECT_EQ(merge.serversCompleted, 3U);
    ASSERT_EQ(merge.intervals.size(), 10U);
    EXPECT_EQ(iperf::liveText(merge.intervals),
              testing::mergedIntervalLines(fileBytes("speedTest/" + base() + ".txt")));
}

// The outputs are written in pieces that end anywhere, over files an earlier run left: the live
// totals only ever grow, count an interval only once every server has reported it, and end
// equal to the merge's.
TEST_P(StageIntervals, FollowingTheOutputsAsTheyAreWrittenEndsAtTheMergedTotals) {
    for (std::size_t index = 0; index < 3; ++index) {
        putFile(outputPath(index), "left by an earlier run\n" + output((index + 1) % 3));
    }
    iperf::LiveTotals totals(base(), 3);
    const std::vector<bool> running(3, false);
    EXPECT_FALSE(totals.follow(running));
    EXPECT_TRUE(totals.intervals().empty()) << "an earlier run's outputs count for nothing";

    std::vector<std::string> texts;
    std::vector<std::size_t> written(3, 0);
    for (std::size_t index = 0; index < 3; ++index) {
        texts.push_back(output(index));
        putFile(outputPath(index), "");
    }
    std::vector<iperf::IntervalTotal> seen;
    std::size_t step = 0;
    while (written[0] < texts[0].size() || written[1] < texts[1].size() ||
           written[2] < texts[2].size()) {
        // Each server gains a piece of its own size, so that they run out of step.
        const std::size_t index = step % 3;
        written[index] = std::min(texts[index].size(), written[index] + 97 + 61 * index);
        putFile(outputPath(index), texts[index].substr(0, written[index]));
        totals.follow(running);
        const std::vector<iperf::IntervalTotal>& now = totals.intervals();
        ASSERT_GE(now.size(), seen.size());
        EXPECT_TRUE(std::equal(seen.begin(), seen.end(), now.begin()));
        for (std::size_t server = 0; server < 3; ++server) {
            const std::string part = texts[server].substr(0, written[server]);
            const std::size_t reported =
                iperf::summaryLinesOf(platform::splitLines(part.substr(0, part.rfind('\n') + 1)))
                    .size();
            EXPECT_LE(now.size(), reported) << "an interval counted before server " << server;
        }
        seen = now;
        ++step;
    }
    EXPECT_TRUE(totals.allEnded());
    std::vector<CollectedOutput> outputs;
    for (const std::string& text : texts) {
        outputs.push_back(platform::splitLines(text));
    }
    EXPECT_EQ(totals.intervals(), intervalTotalsOf(outputs));
}

INSTANTIATE_TEST_SUITE_P(BothStages, StageIntervals, ::testing::Values("dn_speed", "up_speed"));

class LiveTotalsOfServers : public testing::ProgramFolderTest {
  protected:
    static std::string intervalLine(const std::string& interval, const std::string& rate) {
        return "[SUM]   " + interval + "   sec  1.00 GBytes  " + rate + " Mbits/sec\n";
    }
};

TEST_F(LiveTotalsOfServers, ARunningServerHoldsAnIntervalBackAndAnEndedOneAddsNothing) {
    iperf::LiveTotals totals("dn_speed", 3);
    putFile("speedTest/dn_speed_0.txt",
            intervalLine("0.00-1.00", "100") + intervalLine("1.00-2.00", "110"));
    putFile("speedTest/dn_speed_1.txt", "Connecting to host 10.0.0.2, port 5201\n");
    putFile("speedTest/dn_speed_2.txt", intervalLine("0.00-1.01", "200"));
    totals.follow({false, false, false});
    EXPECT_TRUE(totals.intervals().empty()) << "server 1 still runs and has reported nothing";

    // Server 1 ended without an interval: the others' totals stand without it.
    EXPECT_TRUE(totals.follow({false, true, false}));
    EXPECT_EQ(iperf::liveText(totals.intervals()), "1.00 300.00\n");

    putFile("speedTest/dn_speed_2.txt",
            intervalLine("0.00-1.01", "200") + intervalLine("1.01-2.00", "190"));
    EXPECT_TRUE(totals.follow({false, true, false}));
    EXPECT_EQ(iperf::liveText(totals.intervals()), "1.00 300.00\n2.00 300.00\n");
}

TEST_F(LiveTotalsOfServers, AnEndedClientsLastLineCountsWithoutItsLineFeed) {
    iperf::LiveTotals totals("up_speed", 1);
    std::string line = intervalLine("0.00-1.00", "42.5");
    line.pop_back();
    putFile("speedTest/up_speed_0.txt", line);
    EXPECT_FALSE(totals.follow({false}));
    EXPECT_TRUE(totals.follow({true}));
    EXPECT_EQ(iperf::liveText(totals.intervals()), "1.00 42.50\n");
}

// What one output gains look by look, the bytes held of its unended line after the last look, and
// the live totals once its client has ended.
struct PartialLineCase {
    const char* name;
    std::vector<std::string> looks;
    std::size_t held;
    std::string live;
};

class PartialLine : public testing::ProgramFolderTest,
                    public ::testing::WithParamInterface<PartialLineCase> {};

std::string interval(const std::string& span, const std::string& rate) {
    return "[SUM]   " + span + "   sec  1.00 GBytes  " + rate + " Mbits/sec\n";
}

TEST_P(PartialLine, HoldsAtMostTheLongestLineAndDropsALongerRun) {
    iperf::LiveTotals totals("dn_speed", 1);
    std::string written;
    for (const std::string& look : GetParam().looks) {
        written += look;
        putFile("speedTest/dn_speed_0.txt", written);
        totals.follow({false});
    }
    EXPECT_EQ(totals.heldBytes(), GetParam().held);
    totals.follow({true});
    EXPECT_EQ(iperf::liveText(totals.intervals()), GetParam().live);
}

constexpr std::size_t kLongest = iperf::LiveTotals::kLongestLine;

INSTANTIATE_TEST_SUITE_P(
    Cases, PartialLine,
    ::testing::Values(
        PartialLineCase{"a_line_without_its_feed_is_held", {"Connecting to host"}, 18, ""},
        PartialLineCase{"the_longest_line_is_held", {std::string(kLongest, 'x')}, kLongest, ""},
        PartialLineCase{"one_byte_more_is_dropped", {std::string(kLongest + 1, 'x')}, 0, ""},
        PartialLineCase{"a_run_over_many_looks_is_dropped",
                        std::vector<std::string>(40, std::string(16 * 1024, 'x')), 0, ""},
        PartialLineCase{"the_line_after_a_dropped_run_counts",
                        {std::string(kLongest + 1, 'x'), "\n" + interval("0.00-1.00", "5")},
                        0,
                        "1.00 5.00\n"},
        PartialLineCase{
            "a_summary_ending_a_dropped_run_is_dropped_with_it",
            {std::string(kLongest, 'x') + interval("0.00-1.00", "9") + interval("1.00-2.00", "5")},
            0,
            "2.00 5.00\n"}),
    [](const auto& param) { return std::string(param.param.name); });

// A pipe at an output name reads as missing at once: it neither holds the follower nor counts.
TEST_F(LiveTotalsOfServers, APipeAtAnOutputNameIsNotWaitedOn) {
    iperf::LiveTotals totals("dn_speed", 2);
    ASSERT_EQ(::mkfifo("speedTest/dn_speed_1.txt", 0600), 0);
    putFile("speedTest/dn_speed_0.txt", intervalLine("0.00-1.00", "100"));
    std::atomic<bool> followed{false};
    std::thread follower([&] {
        totals.follow({false, true});
        followed = true;
    });
    const bool returned = test::waitUntil([&] { return followed.load(); }, 10s);
    if (!returned) {
        // Give the blocked open a writer, so that the thread can be joined.
        const int fd = ::open("speedTest/dn_speed_1.txt", O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    follower.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(iperf::liveText(totals.intervals()), "1.00 100.00\n");
}

TEST_F(LiveTotalsOfServers, AnOutputWrittenAnewIsFollowedFromItsStart) {
    iperf::LiveTotals totals("dn_speed", 1);
    putFile("speedTest/dn_speed_0.txt",
            intervalLine("0.00-1.00", "1") + intervalLine("1.00-2.00", "2"));
    totals.follow({false});
    putFile("speedTest/dn_speed_0.txt", intervalLine("0.00-1.00", "7"));
    totals.follow({false});
    putFile("speedTest/dn_speed_0.txt", intervalLine("0.00-1.00", "7") +
                                            intervalLine("1.00-2.00", "8") +
                                            intervalLine("2.00-3.00", "9"));
    totals.follow({false});
    // What was shown stays; from the rewritten output on, its own figures.
    EXPECT_EQ(iperf::liveText(totals.intervals()), "1.00 1.00\n2.00 2.00\n3.00 9.00\n");
}

TEST_F(LiveTotalsOfServers, TheFollowerKeepsTheLiveFileAndLeavesTheMergedTotalsInIt) {
    putFile("speedTest/dn_live.txt", "9.00 1.00\n");
    putFile("speedTest/dn_speed_0.txt", "an earlier run\n");
    iperf::LiveFollower follower("dn_speed", 2, "speedTest/dn_live.txt", 20ms);
    EXPECT_EQ(fileBytes("speedTest/dn_live.txt"), "") << "emptied when the stage starts";

    putFile("speedTest/dn_speed_0.txt", intervalLine("0.00-1.00", "100"));
    putFile("speedTest/dn_speed_1.txt", intervalLine("0.00-1.00", "50.25"));
    EXPECT_TRUE(test::waitUntil([] { return !fileBytes("speedTest/dn_live.txt").empty(); }, 10s));
    EXPECT_EQ(fileBytes("speedTest/dn_live.txt"), "1.00 150.25\n");

    follower.serverEnded(0);
    follower.serverEnded(1);
    follower.finish({{"1.00", 100}});
    EXPECT_EQ(fileBytes("speedTest/dn_live.txt"), "1.00 100.00\n");
}

}  // namespace
}  // namespace kestova
