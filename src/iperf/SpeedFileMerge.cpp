#include "iperf/SpeedFileMerge.h"

#include <string_view>

#include "iperf/IperfOutput.h"
#include "platform/SystemSpelling.h"
#include "platform/TextFile.h"
#include "workspace/RunLog.h"
#include "workspace/StatusFile.h"
#include "workspace/Text.h"

namespace kestova {

namespace {

constexpr std::string_view kBitrateUnit = "Mbits/sec";

std::vector<iperf::SummaryLines> summariesOf(const std::vector<CollectedOutput>& outputs) {
    std::vector<iperf::SummaryLines> summaries;
    summaries.reserve(outputs.size());
    for (const CollectedOutput& output : outputs) {
        summaries.push_back(iperf::summaryLinesOf(output));
    }
    return summaries;
}

std::string mergedLine(std::string_view firstLine, double sum) {
    const std::vector<std::string_view> tokens = iperf::tokensOf(firstLine);
    std::string line;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        const bool isBitrate = k + 1 < tokens.size() && tokens[k + 1] == kBitrateUnit;
        line.append(isBitrate ? twoDecimals(sum) : std::string(tokens[k])).append(" ");
    }
    return line.append("\n");
}

// Every complete output of the file: the lines up to each marker line, as iperf3 ends a finished
// run with one. True when there was one.
bool collectOutputs(const std::string& path, std::vector<CollectedOutput>& outputs) {
    CollectedOutput lines = platform::readLines(path);
    std::vector<std::size_t> markers;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (iperf::holdsDoneMarker(lines[k])) {
            // The file as this system names it: "speedTest\\dn_speed_0.txt" on Windows.
            runLog() << platform::inScriptSpelling(path) << " iperf Done. found";
            markers.push_back(k);
        }
    }
    // Each marker ends one output; the last one can take the lines themselves.
    for (std::size_t m = 0; m + 1 < markers.size(); ++m) {
        const auto end = lines.begin() + static_cast<std::ptrdiff_t>(markers[m] + 1);
        outputs.emplace_back(lines.begin(), end);
    }
    if (!markers.empty()) {
        lines.resize(markers.back() + 1);
        outputs.push_back(std::move(lines));
    }
    return !markers.empty();
}

std::string mergedText(const std::vector<iperf::SummaryLines>& summaries) {
    std::string merged;
    for (std::size_t k = 0; k < summaries.front().size(); ++k) {
        merged += mergedLine(summaries.front()[k], iperf::summaryTotal(summaries, k));
    }
    merged += "\n";
    merged += iperf::kDoneMarker;
    return merged;
}

std::vector<iperf::IntervalTotal> intervalTotals(
    const std::vector<iperf::SummaryLines>& summaries) {
    std::vector<iperf::IntervalTotal> intervals;
    for (std::size_t k = 0; k < summaries.front().size(); ++k) {
        if (const auto end = iperf::intervalEndOf(summaries.front()[k])) {
            intervals.push_back({std::string(*end), iperf::summaryTotal(summaries, k)});
        }
    }
    return intervals;
}

}  // namespace

std::string mergeCollectedOutputs(const std::vector<CollectedOutput>& outputs) {
    return outputs.empty() ? std::string{} : mergedText(summariesOf(outputs));
}

std::vector<iperf::IntervalTotal> intervalTotalsOf(const std::vector<CollectedOutput>& outputs) {
    return outputs.empty() ? std::vector<iperf::IntervalTotal>{}
                           : intervalTotals(summariesOf(outputs));
}

StageMerge mergeSpeedFile(const std::string& baseName, std::size_t serverCount) {
    StageMerge result;
    result.serversRun = serverCount;
    result.receivers.resize(serverCount);
    std::vector<CollectedOutput> outputs;
    for (std::size_t index = 0; index < serverCount; ++index) {
        if (collectOutputs(iperf::outputPath(baseName, index), outputs)) {
            ++result.serversCompleted;
            result.receivers[index] = iperf::receiverTotalOf(outputs.back());
        }
    }
    runLog() << "start merge speed file: " << baseName << " total line: " << outputs.size();
    std::string merged;
    if (!outputs.empty()) {
        // The merged text and the live file's totals from the same summary lines.
        const std::vector<iperf::SummaryLines> summaries = summariesOf(outputs);
        merged = mergedText(summaries);
        result.intervals = intervalTotals(summaries);
        runLog() << "file content result:\n" << merged;
    }
    writeWorkspaceFile(iperf::mergedOutputPath(baseName), merged);
    result.figure = iperf::figureOfMergedLines(platform::splitLines(merged));
    return result;
}

}  // namespace kestova
