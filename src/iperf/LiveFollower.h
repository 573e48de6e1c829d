#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "iperf/ArrivedTotals.h"
#include "iperf/LiveTotals.h"
#include "iperf/OurIperfServer.h"
#include "iperf/SummaryLines.h"

namespace kestova::iperf {

// Keeps a stage's live file ("speedTest/dn_live.txt" or "up_live.txt") while its clients run: it
// empties the file at once, looks at the servers' outputs every period on a thread of its own,
// and writes the file whole whenever an interval was added; finish leaves in it the merged
// per-interval totals, so that what the page drew ends equal to the stage's result.
// It also notes when each server's run began to measure on the stage's clock (from the look that
// read its first interval line), so that the stage can tell whether its servers measured over the
// same time.
// Contract: made, told of the merge (finish) and ended by the stage's thread; serverEnded may be
// called from any thread (the workers). The own thread only reads the outputs and writes the live
// file; it ends by itself once every output is complete, and within one period of finish or of
// the object's end. Without a thread to be had, the file gets its lines at finish and no output
// has an end time.
class LiveFollower {
  public:
    // With the servers given, the live lines are what reached the receiving side of their
    // connections, by the kernel's counts, once data moves: an upload's own lines count what its
    // clients wrote into their socket buffers, and the clients' lines of different servers
    // cover different seconds where their runs did not start together. Where the system cannot
    // tell (or no data moves, as with a stand-in), the lines are the clients' own, added up by
    // interval.
    LiveFollower(std::string_view baseName, std::size_t serverCount, std::string livePath,
                 std::chrono::milliseconds period,
                 const std::vector<OurIperfServer>& countArrivalsAt = {},
                 ArrivedTotals::Side side = ArrivedTotals::Side::ClientsReceived);
    LiveFollower(const LiveFollower&) = delete;
    LiveFollower& operator=(const LiveFollower&) = delete;
    ~LiveFollower();

    // Server index's client has ended: its output is whole.
    void serverEnded(std::size_t index);

    // Stops following and writes the merged per-interval totals (or, when arrivals were counted,
    // the seconds of what arrived). Returns when each server's run began to measure, in seconds
    // from the follower's start (nothing for one it never saw an interval of).
    std::vector<std::optional<double>> finish(const std::vector<IntervalTotal>& merged);

  private:
    void follow();
    void stop();
    double now() const;

    const std::string livePath_;
    const std::chrono::milliseconds period_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<bool> ended_;
    LiveTotals totals_;                      // the own thread's alone once it runs
    std::optional<ArrivedTotals> arrivals_;  // likewise
    std::thread thread_;
};

}  // namespace kestova::iperf
