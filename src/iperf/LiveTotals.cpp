#include "iperf/LiveTotals.h"

#include <charconv>
#include <utility>

#include "iperf/IperfOutput.h"
#include "platform/FileTail.h"

namespace kestova::iperf {

namespace {

// What one look reads of an output at most; the rest waits for the next look.
constexpr std::size_t kLargestRead = 1 << 20;

// An interval's end as iperf3 prints it ("1.00"); intervalEndOf gives only such texts.
double secondsOf(std::string_view text) {
    double seconds = 0;
    std::from_chars(text.data(), text.data() + text.size(), seconds);
    return seconds;
}

}  // namespace

LiveTotals::LiveTotals(std::string_view baseName, std::size_t serverCount) {
    outputs_.resize(serverCount);
    for (std::size_t index = 0; index < serverCount; ++index) {
        Output& output = outputs_[index];
        output.path = outputPath(baseName, index);
        if (const auto tail = platform::readFileTail(output.path, UINT64_MAX, 0)) {
            output.before = std::make_pair(tail->size, tail->modifiedNs);
        }
    }
}

bool LiveTotals::follow(const std::vector<bool>& ended, double now) {
    for (std::size_t index = 0; index < outputs_.size(); ++index) {
        Output& output = outputs_[index];
        if (output.complete) {
            continue;
        }
        const bool clientEnded = index < ended.size() && ended[index];
        readAppended(output, now);
        if (clientEnded && output.rewritten && !output.partialLine.empty()) {
            // A client that has ended wrote its last line, feed or not.
            takeLine(output, std::exchange(output.partialLine, {}), now);
        }
        output.ended = output.ended || clientEnded || output.complete;
    }
    const std::size_t known = intervals_.size();
    addCompleteIntervals();
    return intervals_.size() > known;
}

bool LiveTotals::allEnded() const {
    for (const Output& output : outputs_) {
        if (!output.ended) {
            return false;
        }
    }
    return true;
}

bool LiveTotals::allComplete() const {
    for (const Output& output : outputs_) {
        if (!output.complete) {
            return false;
        }
    }
    return true;
}

std::vector<std::optional<double>> LiveTotals::measuringStarts() const {
    std::vector<std::optional<double>> starts;
    starts.reserve(outputs_.size());
    for (const Output& output : outputs_) {
        starts.push_back(output.startedAt);
    }
    return starts;
}

std::size_t LiveTotals::heldBytes() const {
    std::size_t held = 0;
    for (const Output& output : outputs_) {
        held += output.partialLine.size();
    }
    return held;
}

void LiveTotals::readAppended(Output& output, double now) {
    std::optional<platform::FileTail> tail =
        platform::readFileTail(output.path, output.offset, kLargestRead);
    if (!tail) {
        return;
    }
    if (!output.rewritten) {
        if (output.before && output.before->first == tail->size &&
            output.before->second == tail->modifiedNs) {
            return;  // still the earlier run's output
        }
        output.rewritten = true;
    } else if (tail->size < output.offset) {
        // Written anew from its start: follow it again from there.
        output.offset = 0;
        output.partialLine.clear();
        output.overlong = false;
        output.summaries.clear();
        tail = platform::readFileTail(output.path, 0, kLargestRead);
        if (!tail) {
            return;
        }
    }
    output.offset += tail->bytes.size();
    std::string_view bytes = tail->bytes;
    while (!output.complete) {
        const std::size_t feed = bytes.find('\n');
        if (feed == std::string_view::npos) {
            holdPartial(output, bytes);
            return;
        }
        holdPartial(output, bytes.substr(0, feed));
        bytes.remove_prefix(feed + 1);
        if (!std::exchange(output.overlong, false)) {
            takeLine(output, std::exchange(output.partialLine, {}), now);
        }
    }
}

void LiveTotals::holdPartial(Output& output, std::string_view bytes) {
    if (output.overlong || output.partialLine.size() + bytes.size() > kLongestLine) {
        output.partialLine.clear();
        output.overlong = true;
        return;
    }
    output.partialLine.append(bytes);
}

void LiveTotals::takeLine(Output& output, std::string_view line, double now) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (isSummaryLine(line)) {
        output.summaries.emplace_back(line);
        if (!output.startedAt) {
            if (const auto end = intervalEndOf(line)) {
                output.startedAt = now - secondsOf(*end);
            }
        }
    }
    // Lines after the marker belong to no run the merge counts.
    output.complete = output.complete || holdsDoneMarker(line);
}

void LiveTotals::addCompleteIntervals() {
    for (;;) {
        const std::size_t ordinal = nextOrdinal_;
        const Output* first = nullptr;
        for (const Output& output : outputs_) {
            if (ordinal < output.summaries.size()) {
                first = first != nullptr ? first : &output;
            } else if (!output.ended) {
                return;  // a running client has not reported it yet
            }
        }
        if (first == nullptr) {
            return;
        }
        if (const auto end = intervalEndOf(first->summaries[ordinal])) {
            // Each output's line of this ordinal alone, so that a look costs the same however
            // far the run has come.
            std::vector<SummaryLines> lines(outputs_.size());
            for (std::size_t index = 0; index < outputs_.size(); ++index) {
                if (ordinal < outputs_[index].summaries.size()) {
                    lines[index].emplace_back(outputs_[index].summaries[ordinal]);
                }
            }
            intervals_.push_back({std::string(*end), summaryTotal(lines, 0)});
        }
        ++nextOrdinal_;
    }
}

}  // namespace kestova::iperf
