#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "iperf/IperfOutput.h"
#include "iperf/SummaryLines.h"

namespace kestova {

// The lines of one server's iperf3 output, from its first line through a line that holds
// "iperf Done.".
using CollectedOutput = std::vector<std::string>;

// The merged text of a stage: every "[SUM]" line of the first output with each bitrate (the token
// before "Mbits/sec") replaced by the sum over all outputs, tokens joined by single spaces with a
// trailing one, then an empty line and "iperf Done." with no line end. The k-th summary line of
// every output is added to the k-th of the first; an output without a k-th adds nothing, nor does
// a bitrate that is not a finite number. Empty when nothing was collected.
std::string mergeCollectedOutputs(const std::vector<CollectedOutput>& outputs);

// The per-interval totals of the merged text: for each summary line of the first output that is
// an interval (not a final total), where it ends and its sum over all outputs.
std::vector<iperf::IntervalTotal> intervalTotalsOf(const std::vector<CollectedOutput>& outputs);

// What a stage's merge found.
struct StageMerge {
    std::size_t serversRun = 0;
    std::size_t serversCompleted = 0;  // servers whose output holds "iperf Done."
    std::vector<iperf::IntervalTotal> intervals;
    // The merged file's figure (kNoFigure when it gives none), and for each server whose output
    // is complete its receiver's total, by server index.
    std::string figure;
    std::vector<std::optional<iperf::ReceiverTotal>> receivers;
};

// Collects the complete outputs "speedTest/<baseName>_<i>.txt" of the servers 0 .. serverCount-1,
// writes the merged text to "speedTest/<baseName>.txt" and the merge's lines to the run log.
StageMerge mergeSpeedFile(const std::string& baseName, std::size_t serverCount);

}  // namespace kestova
