#include "workspace/Text.h"

#include <array>

#include "platform/LocalTime.h"

namespace kestova {

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

std::string twoDecimals(double value) {
    std::array<char, 64> text{};
    const auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 2);
    return error == std::errc{} ? std::string(text.data(), end) : std::string("0.00");
}

namespace {

enum class TimePart { Timestamp, IsoDateAndTime, Offset };

// strftime's patterns stay literals, so that the compiler checks each.
std::string localTimeText(std::time_t time, TimePart part) {
    const std::tm local = platform::toLocalTime(time);
    std::array<char, 64> text{};
    std::size_t length = 0;
    switch (part) {
        case TimePart::Timestamp:
            length = std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
            break;
        case TimePart::IsoDateAndTime:
            length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &local);
            break;
        case TimePart::Offset:
            length = std::strftime(text.data(), text.size(), "%z", &local);
            break;
    }
    return std::string(text.data(), length);
}

}  // namespace

std::string localTimestamp(std::time_t time) {
    return localTimeText(time, TimePart::Timestamp);
}

std::string isoLocalTime(std::time_t time) {
    std::string text = localTimeText(time, TimePart::IsoDateAndTime);
    // %z gives +hhmm; ISO 8601's extended form writes +hh:mm.
    const std::string zone = localTimeText(time, TimePart::Offset);
    if (zone.size() == 5) {
        text.append(zone, 0, 3).append(":").append(zone, 3);
    } else {
        text.append(zone);
    }
    return text;
}

std::optional<LiveLine> readLiveLine(std::string_view line) {
    const std::string_view text = trimmed(line);
    const std::size_t gap = text.find_first_of(kWhiteSpace);
    if (gap == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view total = trimmed(text.substr(gap));
    const std::optional<double> seconds = wholeNumber<double>(text.substr(0, gap));
    const std::optional<double> mbps = wholeNumber<double>(total);
    if (!seconds || !mbps) {
        return std::nullopt;
    }
    return LiveLine{*seconds, *mbps, total};
}

}  // namespace kestova
