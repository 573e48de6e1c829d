#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "iperf/LiveFollower.h"
#include "iperf/SpeedFileMerge.h"
#include "service/LatencySampler.h"
#include "testrun/TestMeasures.h"
#include "testrun/TestStages.h"

namespace kestova {

enum class StageDirection { Download, Upload };

// What a stage watches while its clients run: their outputs, for the live totals in
// speedTest/dn_live.txt (up_live.txt), and the latency to the test service under load. Made when
// the stage starts, before its workers; told when each worker's client has ended, when all have,
// and of the merge, which leaves the merged totals in the live file and the server count in
// speedTest/dn_servers.txt (up_servers.txt).
// Contract: made, told clientsEnded and merged, and ended on the stage's thread; serverEnded may
// come from any thread (the workers). The followers' threads end with the object at the latest.
class StageWatch {
  public:
    StageWatch(const StageRun& run, StageDirection direction);

    void serverEnded(std::size_t index) { live_.serverEnded(index); }

    // Ends the latency sampling and writes the stage's latency line.
    void clientsEnded();

    // Leaves the merge's per-interval totals in the live file, writes the server count and the
    // stage's figure, which counts each second once.
    void merged(const StageMerge& merge);

  private:
    void writeStageFigure(const StageMerge& merge,
                          const std::vector<std::optional<double>>& startedAt);

    TestMeasures& measures_;
    const StageDirection direction_;
    iperf::LiveFollower live_;
    LatencySampler latency_;
};

}  // namespace kestova
