#include "iperf/SpeedFileMerge.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

#include "iperf/IperfOutput.h"
#include "platform/TextFile.h"
#include "workspace/RunLog.h"
#include "workspace/StatusFile.h"

namespace kestova {

namespace {

constexpr std::string_view kSummaryTag = "[SUM]";
constexpr std::string_view kBitrateUnit = "Mbits/sec";

std::vector<std::string_view> tokensOf(std::string_view line) {
    constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
    std::vector<std::string_view> tokens;
    std::size_t start = line.find_first_not_of(kWhiteSpace);
    while (start != std::string_view::npos) {
        const std::size_t end = line.find_first_of(kWhiteSpace, start);
        tokens.push_back(line.substr(start, end - start));
        start = end == std::string_view::npos ? end : line.find_first_not_of(kWhiteSpace, end);
    }
    return tokens;
}

// The decimal number at the start of the token (sign, digits, point, exponent); 0 when there is
// none or it is not finite, so that nothing but a real bitrate enters a sum.
double bitrateOf(std::string_view token) {
    if (!token.empty() && token.front() == '+') {
        token.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value,
                                              std::chars_format::general);
    static_cast<void>(end);
    return error == std::errc{} && std::isfinite(value) ? value : 0.0;
}

// Adds every bitrate of the line to the sum, one after another, in token order.
void addBitrates(std::string_view line, double& sum) {
    const std::vector<std::string_view> tokens = tokensOf(line);
    for (std::size_t k = 1; k < tokens.size(); ++k) {
        if (tokens[k] == kBitrateUnit) {
            sum += bitrateOf(tokens[k - 1]);
        }
    }
}

std::string twoDecimals(double value) {
    std::array<char, 64> text{};
    const auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 2);
    return error == std::errc{} ? std::string(text.data(), end) : std::string("0.00");
}

std::vector<std::string_view> summaryLinesOf(const CollectedOutput& output) {
    std::vector<std::string_view> lines;
    for (const std::string& line : output) {
        if (line.find(kSummaryTag) != std::string::npos) {
            lines.emplace_back(line);
        }
    }
    return lines;
}

std::string mergedLine(std::string_view firstLine, double sum) {
    const std::vector<std::string_view> tokens = tokensOf(firstLine);
    std::string line;
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        const bool isBitrate = k + 1 < tokens.size() && tokens[k + 1] == kBitrateUnit;
        line.append(isBitrate ? twoDecimals(sum) : std::string(tokens[k])).append(" ");
    }
    return line.append("\n");
}

// Every complete output of the file: the lines up to each marker line, as iperf3 ends a finished
// run with one.
void collectOutputs(const std::string& path, std::vector<CollectedOutput>& outputs) {
    CollectedOutput lines = platform::readLines(path);
    std::vector<std::size_t> markers;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (iperf::holdsDoneMarker(lines[k])) {
            runLog() << path << " iperf Done. found";
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
}

}  // namespace

std::string mergeCollectedOutputs(const std::vector<CollectedOutput>& outputs) {
    if (outputs.empty()) {
        return {};
    }
    std::vector<std::vector<std::string_view>> summaries;
    for (const CollectedOutput& output : outputs) {
        summaries.push_back(summaryLinesOf(output));
    }
    std::string merged;
    for (std::size_t k = 0; k < summaries.front().size(); ++k) {
        double sum = 0;
        for (const std::vector<std::string_view>& lines : summaries) {
            if (k < lines.size()) {
                addBitrates(lines[k], sum);
            }
        }
        merged += mergedLine(summaries.front()[k], sum);
    }
    merged += "\n";
    merged += iperf::kDoneMarker;
    return merged;
}

void mergeSpeedFile(const std::string& baseName, std::size_t serverCount) {
    std::vector<CollectedOutput> outputs;
    for (std::size_t index = 0; index < serverCount; ++index) {
        collectOutputs(iperf::outputPath(baseName, index), outputs);
    }
    runLog() << "start merge speed file: " << baseName << " total line: " << outputs.size();
    const std::string merged = mergeCollectedOutputs(outputs);
    if (!outputs.empty()) {
        runLog() << "file content result:\n" << merged;
    }
    writeWorkspaceFile(iperf::mergedOutputPath(baseName), merged);
}

}  // namespace kestova
