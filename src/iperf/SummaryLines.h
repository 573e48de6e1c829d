#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The "[SUM]" lines of iperf3 outputs and their totals. The merged speed file and the live totals
// of a running stage both pair the k-th summary line of every output and add their bitrates here,
// so that a stage's live lines end equal to its merged per-interval totals.
namespace kestova::iperf {

// The summary lines of one output, in order: every line that holds "[SUM]".
using SummaryLines = std::vector<std::string_view>;

bool isSummaryLine(std::string_view line);
SummaryLines summaryLinesOf(const std::vector<std::string>& lines);

// The line's tokens, separated by runs of white space.
std::vector<std::string_view> tokensOf(std::string_view line);

// The total of the k-th summary lines: every bitrate (the figure before a "Mbits/sec" token) of
// the k-th summary line of each output that has one, added in output order and, within a line, in
// token order. An output without a k-th summary line adds nothing, nor does a figure that is not
// a finite number.
double summaryTotal(const std::vector<SummaryLines>& outputs, std::size_t ordinal);

// The end of the interval of a per-interval summary line, as iperf3 prints it ("1.00" of
// "[SUM]   0.00-1.00   sec ..."); nothing for the final totals (sender, receiver) and for a line
// without an interval after its tag.
std::optional<std::string_view> intervalEndOf(std::string_view summaryLine);

// The length in seconds of the interval after the line's "[SUM]" tag ("10.05" of
// "[SUM]   0.00-10.05  sec ... receiver"), final totals included; nothing without one.
std::optional<double> intervalLengthOf(std::string_view summaryLine);

// The first bitrate of the line (the figure before its first "Mbits/sec"); nothing without one
// that is a finite number.
std::optional<double> bitrateOfLine(std::string_view line);

// One interval of a stage: where it ends and the total over the servers, in Mbit/s.
struct IntervalTotal {
    std::string end;
    double mbps = 0;

    bool operator==(const IntervalTotal&) const = default;
};

// The live file's text: "<end> <total, two decimals>" and a line feed for each interval.
std::string liveText(const std::vector<IntervalTotal>& intervals);

}  // namespace kestova::iperf
