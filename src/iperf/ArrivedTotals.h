#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "iperf/OurIperfServer.h"
#include "iperf/SummaryLines.h"
#include "platform/TcpTraffic.h"

namespace kestova::iperf {

// The per-second totals of what reached the receiving side of a stage's connections, from the
// kernel's own counts: for an upload the bytes the servers acknowledged on the clients' sockets
// (with those they hold beyond a loss), for a download the bytes those sockets received. An iperf3
// client's own interval lines count
// what it wrote into its socket buffers when it sends, so in an upload's first seconds they show
// the buffers filling, not the line.
// The seconds count from the last look before data began to move; a second is added once data
// has been seen moving past its end, its total read between the looks around each of its ends.
// Each download second after the first is the mean over it and the one before: a loss holds
// the bytes behind it back from the client until the gap is filled.
// Contract: one owner, one thread.
class ArrivedTotals {
  public:
    enum class Side { ServersReceived, ClientsReceived };
    // Where the counts come from: the kernel, or a test's own.
    using Source = std::function<std::optional<std::vector<platform::TcpConnectionBytes>>(
        const std::vector<platform::RemoteEndpoint>&)>;

    // Takes the connections to the servers as they are now as the baseline: what they carried
    // before (a probe's, an earlier stage's) never counts.
    ArrivedTotals(const std::vector<OurIperfServer>& servers, Side side, double now,
                  Source source = platform::tcpConnectionsTo);

    // Reads the counts at now (seconds on the stage's clock). False when the system cannot tell.
    bool look(double now);

    // True once data has moved: from then on these totals, not the clients' lines, are live.
    bool moving() const { return start_.has_value(); }

    // The whole seconds so far; a last part of a second after them is left out, as it tells a
    // tail of retransmissions rather than the line.
    const std::vector<IntervalTotal>& intervals() const { return intervals_; }

  private:
    struct Look {
        double at = 0;
        std::uint64_t bytes = 0;
    };

    std::uint64_t countOf(const platform::TcpConnectionBytes& connection) const;
    std::optional<std::uint64_t> totalNow();
    std::uint64_t bytesAt(double at) const;
    double secondsRead() const;
    void addWholeSeconds();

    std::vector<platform::RemoteEndpoint> endpoints_;
    Side side_;
    Source source_;
    std::map<std::uint64_t, std::uint64_t> baseline_;  // by socket: its count at the start
    std::map<std::uint64_t, std::uint64_t> largest_;   // by socket: the largest count seen
    std::vector<Look> looks_;
    std::optional<double> start_;
    double lastGrowth_ = 0;
    std::vector<IntervalTotal> intervals_;
};

}  // namespace kestova::iperf
