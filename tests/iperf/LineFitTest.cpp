#include "iperf/LineFit.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>

#include "iperf/SummaryLines.h"

namespace kestova::iperf {
namespace {

constexpr const char* kInstalled = "-P 20 -l 1024k --forceflush";

struct FitCase {
    const char* name;
    const char* installed;
    std::optional<double> lineMbps;
    std::size_t servers;
    const char* parameters;
    std::size_t serversRun;
};

class StageFitOnALine : public ::testing::TestWithParam<FitCase> {};

TEST_P(StageFitOnALine, FitsStreamsWritesAndServersToTheLine) {
    const FitCase& c = GetParam();
    const StageFit fit = fitStageToLine(c.installed, c.lineMbps, c.servers);
    EXPECT_EQ(fit.parameters, c.parameters);
    EXPECT_EQ(fit.servers, c.serversRun);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StageFitOnALine,
    ::testing::Values(
        // A fast line, or one the probe told nothing of, runs the provider's text to the byte.
        FitCase{"no_probe_figure", "-P 20  -l 1024k --forceflush", std::nullopt, 2,
                "-P 20  -l 1024k --forceflush", 2},
        FitCase{"gigabit", kInstalled, 940.0, 2, kInstalled, 2},
        // Slow lines: a few streams of short writes, and no more servers than the line carries
        // two streams of.
        FitCase{"one_mbit_two_servers", kInstalled, 0.95, 2, "-P 3 -l 8k --forceflush", 1},
        FitCase{"two_mbit_eight_servers", kInstalled, 1.9, 8, "-P 7 -l 8k --forceflush", 1},
        FitCase{"five_mbit_eight_servers", kInstalled, 4.3, 8, "-P 2 -l 8k --forceflush", 4},
        FitCase{"twenty_mbit", kInstalled, 19.2, 2, "-P 4 -l 16k --forceflush", 2},
        FitCase{"hundred_mbit", kInstalled, 94.0, 2, "-P 5 -l 64k --forceflush", 2},
        FitCase{"two_hundred_mbit_eight_servers", kInstalled, 190.0, 8, "-P 2 -l 128k --forceflush",
                8},
        // The streams of all servers together stay bounded, on a fast line too.
        FitCase{"gigabit_eight_servers", kInstalled, 940.0, 8, "-P 16 -l 1024k --forceflush", 8},
        FitCase{"gigabit_sixty_four_servers", kInstalled, 940.0, 64, "-P 2 -l 1024k --forceflush",
                64},
        // Other options stay; missing ones are added in front.
        FitCase{"long_names_and_a_window", "--parallel 8 --length 256K -w 512k", 4.8, 2,
                "--parallel 4 --length 8k -w 512k", 2},
        FitCase{"no_streams_or_length_given", "--forceflush", 0.95, 2, "-P 1 -l 8k --forceflush",
                1},
        FitCase{"few_streams_of_short_writes_stay", "-P 2 -l 4k", 20.0, 2, "-P 2 -l 4k", 2}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(StageFit, EveryLineKeepsTheStreamsBoundedAndTwoToAServer) {
    for (const std::size_t servers : {1U, 2U, 8U, 64U}) {
        for (double mbps = 0.25; mbps < 2000; mbps *= 1.3) {
            const StageFit fit = fitStageToLine(kInstalled, mbps, servers);
            const std::vector<std::string_view> tokens = tokensOf(fit.parameters);
            ASSERT_EQ(tokens.at(0), "-P");
            const std::size_t streams = std::stoul(std::string(tokens.at(1)));
            EXPECT_GE(streams, 2U) << mbps << " Mbit/s, " << servers << " servers";
            EXPECT_LE(streams * fit.servers, kMostStreams) << mbps << " Mbit/s";
            EXPECT_GE(fit.servers, 1U);
            EXPECT_LE(fit.servers, servers);
        }
    }
}

TEST(StageFit, TheProbeRunsTwoStreamsOfShortWritesWithTheOtherOptions) {
    EXPECT_EQ(probeParameters(kInstalled), "-P 2 -l 16k --forceflush");
    EXPECT_EQ(probeParameters("-w 256k"), "-P 2 -l 16k -w 256k");
}

}  // namespace
}  // namespace kestova::iperf
