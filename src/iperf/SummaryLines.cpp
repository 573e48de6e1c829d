#include "iperf/SummaryLines.h"

#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "workspace/Text.h"

namespace kestova::iperf {

namespace {

constexpr std::string_view kSummaryTag = "[SUM]";
constexpr std::string_view kBitrateUnit = "Mbits/sec";

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

// A number of seconds as iperf3 prints it: digits with a decimal point, nothing else.
bool isSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size() &&
           text.front() != '-';
}

// The start and end texts of the interval right after the line's "[SUM]" tag.
std::optional<std::pair<std::string_view, std::string_view>> intervalOf(
    const std::vector<std::string_view>& tokens) {
    std::size_t tag = 0;
    while (tag < tokens.size() && tokens[tag].find(kSummaryTag) == std::string_view::npos) {
        ++tag;
    }
    if (tag + 1 >= tokens.size()) {
        return std::nullopt;
    }
    const std::string_view interval = tokens[tag + 1];
    const std::size_t dash = interval.find('-');
    if (dash == std::string_view::npos || !isSeconds(interval.substr(0, dash)) ||
        !isSeconds(interval.substr(dash + 1))) {
        return std::nullopt;
    }
    return std::make_pair(interval.substr(0, dash), interval.substr(dash + 1));
}

}  // namespace

bool isSummaryLine(std::string_view line) {
    return line.find(kSummaryTag) != std::string_view::npos;
}

SummaryLines summaryLinesOf(const std::vector<std::string>& lines) {
    SummaryLines summaries;
    for (const std::string& line : lines) {
        if (isSummaryLine(line)) {
            summaries.emplace_back(line);
        }
    }
    return summaries;
}

std::vector<std::string_view> tokensOf(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t start = line.find_first_not_of(kWhiteSpace);
    while (start != std::string_view::npos) {
        const std::size_t end = line.find_first_of(kWhiteSpace, start);
        tokens.push_back(line.substr(start, end - start));
        start = end == std::string_view::npos ? end : line.find_first_not_of(kWhiteSpace, end);
    }
    return tokens;
}

double summaryTotal(const std::vector<SummaryLines>& outputs, std::size_t ordinal) {
    double sum = 0;
    for (const SummaryLines& lines : outputs) {
        if (ordinal < lines.size()) {
            addBitrates(lines[ordinal], sum);
        }
    }
    return sum;
}

std::optional<std::string_view> intervalEndOf(std::string_view summaryLine) {
    const std::vector<std::string_view> tokens = tokensOf(summaryLine);
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        if (tokens[k] == "sender" || tokens[k] == "receiver") {
            return std::nullopt;
        }
    }
    const auto interval = intervalOf(tokens);
    if (!interval) {
        return std::nullopt;
    }
    return interval->second;
}

std::optional<double> intervalLengthOf(std::string_view summaryLine) {
    const auto interval = intervalOf(tokensOf(summaryLine));
    if (!interval) {
        return std::nullopt;
    }
    return bitrateOf(interval->second) - bitrateOf(interval->first);
}

std::optional<double> bitrateOfLine(std::string_view line) {
    const std::vector<std::string_view> tokens = tokensOf(line);
    for (std::size_t k = 1; k < tokens.size(); ++k) {
        if (tokens[k] == kBitrateUnit) {
            double value = 0;
            const std::string_view figure = tokens[k - 1];
            const auto [end, error] = std::from_chars(figure.data(), figure.data() + figure.size(),
                                                      value, std::chars_format::general);
            static_cast<void>(end);
            if (error != std::errc{} || !std::isfinite(value)) {
                return std::nullopt;
            }
            return value;
        }
    }
    return std::nullopt;
}

std::string liveText(const std::vector<IntervalTotal>& intervals) {
    std::string text;
    for (const IntervalTotal& interval : intervals) {
        text.append(interval.end).append(" ").append(twoDecimals(interval.mbps)).append("\n");
    }
    return text;
}

}  // namespace kestova::iperf
