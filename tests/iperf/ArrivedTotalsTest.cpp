#include "iperf/ArrivedTotals.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace kestova::iperf {
namespace {

using platform::RemoteEndpoint;
using platform::TcpConnectionBytes;

// The kernel's counts as a test sets them: one connection list per look.
class ScriptedCounts {
  public:
    ArrivedTotals::Source source() {
        return [this](const std::vector<RemoteEndpoint>& endpoints) {
            asked_ = endpoints;
            return now_;
        };
    }

    void set(std::optional<std::vector<TcpConnectionBytes>> connections) {
        now_ = std::move(connections);
    }

    const std::vector<RemoteEndpoint>& asked() const { return asked_; }

  private:
    std::optional<std::vector<TcpConnectionBytes>> now_ = std::vector<TcpConnectionBytes>{};
    std::vector<RemoteEndpoint> asked_;
};

constexpr std::uint64_t kMbit = 125000;  // bytes in a megabit

const std::vector<OurIperfServer> kServers = {{"10.0.0.1", "5201"}, {"2001:db8::1", "5202"}};

// An upload counts what the servers acknowledged: a probe's connection that was there before
// adds nothing, a connection that has closed keeps what it carried, and each second's total is
// read on the line between the looks around its ends.
TEST(ArrivedTotals, CountWhatTheServersAcknowledgedSecondBySecond) {
    ScriptedCounts counts;
    counts.set(std::vector<TcpConnectionBytes>{{7, 0, 0, 9 * kMbit}});  // the probe's
    ArrivedTotals totals(kServers, ArrivedTotals::Side::ServersReceived, 0.0, counts.source());
    ASSERT_EQ(counts.asked().size(), 2U);
    EXPECT_EQ(counts.asked()[1].address, "2001:db8::1");
    EXPECT_EQ(counts.asked()[1].port, 5202);

    // Control exchanges only: nothing moves yet.
    counts.set(std::vector<TcpConnectionBytes>{{7, 0, 0, 9 * kMbit}, {1, 0, 500, 300}});
    ASSERT_TRUE(totals.look(0.5));
    EXPECT_FALSE(totals.moving());
    // From 0.5 s on, 4 Mbit/s to each server; written bytes (received counts) never count.
    const auto at = [](double seconds) { return static_cast<std::uint64_t>(seconds * 4 * kMbit); };
    for (double now = 0.75; now <= 3.01; now += 0.25) {
        counts.set(std::vector<TcpConnectionBytes>{{7, 0, 0, 9 * kMbit},
                                                   {1, 0, 99 * kMbit, 300 + at(now - 0.5)},
                                                   {2, 1, 99 * kMbit, at(now - 0.5)}});
        ASSERT_TRUE(totals.look(now));
    }
    EXPECT_TRUE(totals.moving());
    ASSERT_EQ(totals.intervals().size(), 2U);  // seconds from the look at 0.5 s: to 1.5, 2.5
    EXPECT_EQ(totals.intervals()[0].end, "1.00");
    EXPECT_NEAR(totals.intervals()[0].mbps, 8.0, 0.01);
    EXPECT_NEAR(totals.intervals()[1].mbps, 8.0, 0.01);

    // Server 1's connection closes: what it carried stays counted; the other goes on alone.
    for (double now = 3.25; now <= 4.51; now += 0.25) {
        counts.set(std::vector<TcpConnectionBytes>{{1, 0, 99 * kMbit, 300 + at(now - 0.5)}});
        ASSERT_TRUE(totals.look(now));
    }
    ASSERT_EQ(totals.intervals().size(), 4U);
    EXPECT_NEAR(totals.intervals()[2].mbps, 6.0, 0.01);  // 2.5 to 3.5: both, then one
    EXPECT_NEAR(totals.intervals()[3].mbps, 4.0, 0.01);

    // The data stops: no second after it is added, however long the look goes on.
    counts.set(std::vector<TcpConnectionBytes>{});
    for (double now = 4.75; now <= 9.0; now += 0.25) {
        ASSERT_TRUE(totals.look(now));
    }
    EXPECT_EQ(totals.intervals().size(), 4U);
}

// After a loss a server acknowledges nothing new until the gap is filled, though the bytes after
// it keep arriving: they count in the second they arrived, not all at once when the gap fills.
TEST(ArrivedTotals, BytesAServerHoldsBeyondALossCountWhenTheyArrive) {
    ScriptedCounts counts;
    ArrivedTotals totals(kServers, ArrivedTotals::Side::ServersReceived, 0.0, counts.source());
    for (double now = 0.1; now <= 3.01; now += 0.1) {
        const auto arrived = static_cast<std::uint64_t>(now * 10 * kMbit);
        // From 1.0 s to 2.0 s the acknowledgements stand still and the rest is held beyond it.
        const std::uint64_t acked = now < 1.0 || now > 2.0 ? arrived : 10 * kMbit;
        counts.set(std::vector<TcpConnectionBytes>{{5, 0, 0, acked, arrived - acked}});
        ASSERT_TRUE(totals.look(now));
    }
    ASSERT_GE(totals.intervals().size(), 2U);
    EXPECT_NEAR(totals.intervals()[0].mbps, 10.0, 0.01);
    EXPECT_NEAR(totals.intervals()[1].mbps, 10.0, 0.01);
}

TEST(ArrivedTotals, ADownloadCountsWhatTheClientsReceived) {
    ScriptedCounts counts;
    ArrivedTotals totals(kServers, ArrivedTotals::Side::ClientsReceived, 0.0, counts.source());
    for (double now = 0.1; now <= 2.21; now += 0.1) {
        counts.set(std::vector<TcpConnectionBytes>{
            {3, 1, static_cast<std::uint64_t>(now * 20 * kMbit), 17}});
        ASSERT_TRUE(totals.look(now));
    }
    ASSERT_EQ(totals.intervals().size(), 2U);
    EXPECT_NEAR(totals.intervals()[0].mbps, 20.0, 0.01);
}

// A loss holds the bytes that arrive behind it back from the client until the gap is filled:
// here those of 1.6 s to 2.2 s reach it at once at 2.2 s. Read over one second, the second to
// 2.0 s would show 6 Mbit/s and the next 14 on a 10 Mbit/s line; over two, 8 and 10.
TEST(ArrivedTotals, ADownloadSecondHeldBackByALossMovesItsLiveValueByHalf) {
    ScriptedCounts counts;
    ArrivedTotals totals(kServers, ArrivedTotals::Side::ClientsReceived, 0.0, counts.source());
    for (double now = 0.1; now <= 4.01; now += 0.1) {
        const double delivered = now > 1.59 && now < 2.19 ? 1.6 : now;
        counts.set(std::vector<TcpConnectionBytes>{
            {3, 1, static_cast<std::uint64_t>(delivered * 10 * kMbit), 17}});
        ASSERT_TRUE(totals.look(now));
    }
    ASSERT_GE(totals.intervals().size(), 3U);
    EXPECT_NEAR(totals.intervals()[0].mbps, 10.0, 0.1);
    EXPECT_NEAR(totals.intervals()[1].mbps, 8.0, 0.1);
    EXPECT_NEAR(totals.intervals()[2].mbps, 10.0, 0.1);
}

TEST(ArrivedTotals, TellNothingWhereTheSystemCannot) {
    ScriptedCounts counts;
    counts.set(std::nullopt);
    ArrivedTotals totals(kServers, ArrivedTotals::Side::ServersReceived, 0.0, counts.source());
    EXPECT_FALSE(totals.look(1.0));
    EXPECT_FALSE(totals.moving());
    EXPECT_TRUE(totals.intervals().empty());
}

}  // namespace
}  // namespace kestova::iperf
