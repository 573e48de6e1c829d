#pragma once

#include <charconv>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

// The small text helpers every layer above the platform shares: white space, numbers written as
// whole texts, figures with two decimals, local times and the lines of a stage's live file.
namespace kestova {

// White space as the C library counts it: space, tab, line feed, vertical tab, form feed and
// carriage return.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// The text without white space at either end.
std::string_view trimmed(std::string_view text);

// The number the whole text spells, nothing when any of it is not part of the number (empty
// text, white space, a sign where the type has none, trailing text) or it lies out of range.
// Floating point reads "inf" and "nan" as numbers too: callers that need a finite figure ask.
template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
    Number value{};
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || problem != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// A figure as the workspace files write it: fixed point, two decimals, no grouping ("1878.50").
std::string twoDecimals(double value);

// The local time as "%Y-%m-%d %H:%M:%S": "2026-12-10 14:05:09".
std::string localTimestamp(std::time_t time);

// The local time in ISO 8601 with its offset: "2026-12-10T14:05:09+01:00".
std::string isoLocalTime(std::time_t time);

// One line of a stage's live file, "<end of the interval> <Mbit/s>": both numbers, white space
// between them and around them; total is the figure as it stands in the line.
struct LiveLine {
    double seconds = 0;
    double mbps = 0;
    std::string_view total;
};
std::optional<LiveLine> readLiveLine(std::string_view line);

}  // namespace kestova
