#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "iperf/SummaryLines.h"

namespace kestova::iperf {

// The per-interval totals of a running stage, from its servers' outputs as far as they are
// written. An interval counts once every server still running has reported it; its total pairs
// the servers' summary lines by their ordinal as the merge does, and a server that ended without
// the interval adds nothing to it.
// Contract: one owner, one thread; it only reads the outputs.
class LiveTotals {
  public:
    // The longest line held: a longer run of bytes without a line feed is no line of iperf3's
    // and is dropped, up to and with its line feed, so that an output never grows what is held.
    static constexpr std::size_t kLongestLine = 64 * 1024;

    // Notes the outputs "speedTest/<baseName>_<i>.txt" as they are before the stage's clients
    // start: an output left by an earlier run counts only once its script has rewritten it.
    LiveTotals(std::string_view baseName, std::size_t serverCount);

    // Reads what each output gained since the last look and adds the intervals that became
    // complete. ended[i] says that server i's client has ended, so its output is whole; it is
    // taken before the look, so that nothing it wrote is missed. now is the look's time on the
    // stage's clock, in seconds. True when intervals were added.
    bool follow(const std::vector<bool>& ended, double now = 0);

    // True when every output is complete or its client ended: no interval will be added.
    bool allEnded() const;
    // True when every output has been read to its "iperf Done.".
    bool allComplete() const;

    // For each output, when its run began to measure on the stage's clock: the time of the look
    // that read its first interval line, less that interval's end. Where iperf3 writes each
    // interval as it ends, that is the run's own start; the end of an output (its "iperf Done.")
    // comes only after the client and the server have exchanged their results, which a loss on
    // a slow line can hold back for a while.
    std::vector<std::optional<double>> measuringStarts() const;

    const std::vector<IntervalTotal>& intervals() const { return intervals_; }

    // The bytes held of lines not yet ended, over all outputs.
    std::size_t heldBytes() const;

  private:
    struct Output {
        std::string path;
        std::optional<std::pair<std::uint64_t, std::int64_t>> before;  // size, last change
        bool rewritten = false;
        std::uint64_t offset = 0;
        std::string partialLine;  // at most kLongestLine bytes
        bool overlong = false;    // the bytes since the last line feed exceeded kLongestLine
        std::vector<std::string> summaries;
        bool complete = false;  // its "iperf Done." was read
        std::optional<double> startedAt;
        bool ended = false;
    };

    static void readAppended(Output& output, double now);
    static void holdPartial(Output& output, std::string_view bytes);
    static void takeLine(Output& output, std::string_view line, double now);
    void addCompleteIntervals();

    std::vector<Output> outputs_;
    std::size_t nextOrdinal_ = 0;
    std::vector<IntervalTotal> intervals_;
};

}  // namespace kestova::iperf
