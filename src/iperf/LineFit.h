#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The iperf3 parameters of a stage, fitted to the line. The installed parameters are the
// provider's setting for fast lines: 20 streams of 1 MB writes per server fill a gigabit line, but
// on a line of a few Mbit/s a single such write outlasts the test, dozens of streams spend the
// test setting up, and the runs do not end in time. So a short probe before each stage tells the
// line's rough rate in that direction, and below a fast line the streams and the write length
// are fitted to it.
namespace kestova::iperf {

// From this rate (Mbit/s) on, a line is fast: the installed parameters run as they stand.
inline constexpr double kFastLineMbps = 300;
// The streams of a stage across all its servers, at most; a server runs at least two, so that
// iperf3 prints the "[SUM]" lines that the merge adds up.
inline constexpr std::size_t kMostStreams = 128;

// The parameters of the probe: the installed ones with two streams of 16 KB writes, which any
// line from 1 Mbit/s to a gigabit carries without outlasting the probe.
std::string probeParameters(const std::string& installed);

// How a stage runs on a line: its iperf3 parameters, and against how many of its servers (the
// first ones).
struct StageFit {
    std::string parameters;
    std::size_t servers = 0;
};

// The fit of a stage with serverCount servers on a line of lineMbps in its direction (nothing
// when the probe told nothing). The parameters are the installed text with its -P and -l fitted,
// every other option kept, and the installed text itself when nothing changes, so that a fast
// line's scripts are the provider's to the byte. A slow line runs as many of the servers as it
// carries two streams of each for, at least one: more would flood its queue and fail their runs.
StageFit fitStageToLine(const std::string& installed, std::optional<double> lineMbps,
                        std::size_t serverCount);

}  // namespace kestova::iperf
