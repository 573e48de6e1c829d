#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TcpSocket.h"

namespace kestova {

// One latency sample: the milliseconds a TCP connection to the peer took to open; nothing when it
// did not open within the time-out (lost). Nothing is sent; the connection is closed at once.
std::optional<double> connectTime(const platform::IpEndpoint& peer,
                                  std::chrono::milliseconds timeout);

// A series of samples in the order they were taken, nothing for each lost one.
using LatencySeries = std::vector<std::optional<double>>;

// The samples taken one spacing apart (start to start, or at once after one that took longer), on
// the calling thread.
LatencySeries sampleLatency(const platform::IpEndpoint& peer, std::size_t count,
                            std::chrono::milliseconds spacing, std::chrono::milliseconds timeout);

// What a series tells: the median of the answered samples, the jitter (the mean absolute
// difference of consecutive answered samples), how many answered and how many were lost.
struct LatencyFigures {
    std::optional<double> medianMs;
    std::optional<double> jitterMs;
    std::size_t samples = 0;
    std::size_t lost = 0;
};

LatencyFigures latencyFiguresOf(const LatencySeries& series);

// "<name> <median ms> <jitter ms> <samples> <lost>" and a line feed, the figures with two
// decimals, "-" for a figure there is none of (no answered sample; fewer than two for the jitter).
std::string latencyLine(std::string_view name, const LatencyFigures& figures);

}  // namespace kestova
