#include "service/ConnectLatency.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/TcpSocket.h"
#include "service/LatencySampler.h"
#include "support/WaitUntil.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;

struct FiguresCase {
    const char* name;
    LatencySeries series;
    std::string line;
};

class LatencyFiguresOf : public ::testing::TestWithParam<FiguresCase> {};

TEST_P(LatencyFiguresOf, GiveTheMedianJitterAndCounts) {
    EXPECT_EQ(latencyLine("idle", latencyFiguresOf(GetParam().series)), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LatencyFiguresOf,
    ::testing::Values(
        FiguresCase{"no_samples", {}, "idle - - 0 0\n"},
        FiguresCase{"all_lost", {std::nullopt, std::nullopt}, "idle - - 0 2\n"},
        FiguresCase{"one_sample_has_no_jitter", {12.345}, "idle 12.35 - 1 0\n"},
        FiguresCase{"odd_count_takes_the_middle", {30.0, 10.0, 20.0}, "idle 20.00 15.00 3 0\n"},
        FiguresCase{"even_count_takes_the_mean_of_the_middle_two",
                    {1.0, 4.0, 2.0, 8.0},
                    "idle 3.00 3.67 4 0\n"},
        FiguresCase{"lost_samples_are_left_out_of_both",
                    {10.0, std::nullopt, 14.0, std::nullopt, 11.0},
                    "idle 11.00 3.50 3 2\n"},
        FiguresCase{"steady_line_has_no_jitter", {5.5, 5.5, 5.5}, "idle 5.50 0.00 3 0\n"}),
    [](const auto& param) { return std::string(param.param.name); });

platform::IpEndpoint loopback(std::uint16_t port) {
    return {"127.0.0.1", port};
}

TEST(ConnectTime, OpensAConnectionAndSendsNothing) {
    std::optional<platform::TcpListener> listener = platform::TcpListener::listenOnLoopback(0);
    ASSERT_TRUE(listener);
    const std::optional<double> time = connectTime(loopback(listener->port()), 2000ms);
    ASSERT_TRUE(time);
    EXPECT_GE(*time, 0.0);
    EXPECT_LT(*time, 2000.0);
    std::optional<platform::TcpSocket> accepted = listener->accept(2000ms);
    ASSERT_TRUE(accepted);
    std::string received;
    EXPECT_EQ(accepted->receiveSome(received, 100, 2000ms), platform::IoStatus::Closed);
    EXPECT_EQ(received, "");
}

TEST(ConnectTime, ARefusedConnectionIsLost) {
    const std::uint16_t closedPort = platform::TcpListener::listenOnLoopback(0)->port();
    EXPECT_EQ(connectTime(loopback(closedPort), 2000ms), std::nullopt);
}

TEST(SampleLatency, TakesTheSamplesOneSpacingApart) {
    std::optional<platform::TcpListener> listener = platform::TcpListener::listenOnLoopback(0);
    ASSERT_TRUE(listener);
    const auto start = std::chrono::steady_clock::now();
    const LatencySeries series = sampleLatency(loopback(listener->port()), 5, 40ms, 2000ms);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(series.size(), 5U);
    for (const std::optional<double>& sample : series) {
        EXPECT_TRUE(sample);
    }
    EXPECT_GE(took, 4 * 40ms) << "four spacings between five samples";
}

TEST(LatencySampler, SamplesUntilStoppedAndNotWithoutAPeer) {
    std::optional<platform::TcpListener> listener = platform::TcpListener::listenOnLoopback(0);
    ASSERT_TRUE(listener);
    LatencySampler nowhere(std::nullopt, 20ms, 2000ms);
    LatencySampler sampler(loopback(listener->port()), 20ms, 2000ms);
    ASSERT_TRUE(test::waitUntil([&sampler] { return sampler.samplesSoFar() >= 3; }));
    const LatencySeries series = sampler.stop();
    EXPECT_GE(series.size(), 3U);
    for (const std::optional<double>& sample : series) {
        EXPECT_TRUE(sample);
    }
    EXPECT_EQ(sampler.samplesSoFar(), 0U) << "the series is given once";
    EXPECT_TRUE(sampler.stop().empty()) << "the series is given once";

    // While the other took its samples, the one without a peer took none.
    EXPECT_EQ(nowhere.samplesSoFar(), 0U);
    EXPECT_TRUE(nowhere.stop().empty());
}

}  // namespace
}  // namespace kestova
