#include "iperf/LineFit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#include "iperf/SummaryLines.h"
#include "workspace/Text.h"

namespace kestova::iperf {

namespace {

// iperf3's own defaults: one stream, 128 KB writes over TCP.
constexpr std::size_t kIperfDefaultStreams = 1;
constexpr std::uint64_t kIperfDefaultLength = 128 * 1024;

// What a stream carries on a line below a fast one: fewer streams set up sooner and share the
// line more evenly. A slow line still gets a few streams where it carries them, since a single
// stream's losses on a short queue leave the line idle for a while.
constexpr double kMbpsPerStream = 10;
constexpr std::size_t kSlowLineStreams = 8;
// A write takes about this long at its stream's share of the line, so that the last write of a
// run ends soon after the run's ten seconds.
constexpr double kWriteSeconds = 0.1;
constexpr std::uint64_t kShortestWrite = 8 * 1024;
// What a slow line carries: each stream's smallest window adds to the queue, and beyond about
// this many streams per Mbit/s a line's short queue overflows all the time, some streams starve
// until their connections time out, and their servers' runs fail.
constexpr double kStreamsPerMbps = 4;
// Each server's run sets itself up and ramps up on its own; on a slow line the servers' set-ups
// meet the others' data, start seconds apart and leave the line half used at the ends, so a
// server gets at least this much of the line.
constexpr double kMbpsPerServer = 1;

constexpr std::uint64_t kKilo = 1024;

struct Option {
    std::size_t at = 0;  // the index of the option's value among the tokens
    bool present = false;
};

// iperf3's sizes: digits with an optional K, M or G (either case) for powers of 1024.
std::optional<std::uint64_t> sizeOf(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data()) {
        return std::nullopt;
    }
    const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    if (unit.empty()) {
        return value;
    }
    if (unit.size() != 1) {
        return std::nullopt;
    }
    switch (unit.front()) {
        case 'k':
        case 'K':
            return value * kKilo;
        case 'm':
        case 'M':
            return value * kKilo * kKilo;
        case 'g':
        case 'G':
            return value * kKilo * kKilo * kKilo;
        default:
            return std::nullopt;
    }
}

std::optional<std::size_t> countOf(std::string_view text) {
    const std::optional<std::size_t> value = wholeNumber<std::size_t>(text);
    return value && *value != 0 ? value : std::nullopt;
}

Option optionOf(const std::vector<std::string>& tokens, std::string_view shortName,
                std::string_view longName) {
    for (std::size_t k = 0; k + 1 < tokens.size(); ++k) {
        if (tokens[k] == shortName || tokens[k] == longName) {
            return {k + 1, true};
        }
    }
    return {};
}

// The largest power of two KB at most the bytes.
std::uint64_t wholeKilobytesDown(double bytes) {
    std::uint64_t length = kKilo;
    while (static_cast<double>(length * 2) <= bytes) {
        length *= 2;
    }
    return length;
}

std::string lengthText(std::uint64_t bytes) {
    return bytes % (kKilo * kKilo) == 0 ? std::to_string(bytes / (kKilo * kKilo)) + "M"
                                        : std::to_string(bytes / kKilo) + "k";
}

// The tokens with the streams and the write length given replaced in place, or added in front
// where the text has none; an option not given stays as written.
std::string withOptions(std::vector<std::string> tokens, std::optional<std::size_t> streams,
                        std::optional<std::uint64_t> length) {
    std::string front;
    const auto put = [&](std::string_view shortName, std::string_view longName,
                         const std::string& value) {
        const Option option = optionOf(tokens, shortName, longName);
        if (option.present) {
            tokens[option.at] = value;
        } else {
            front.append(front.empty() ? "" : " ").append(shortName).append(" ").append(value);
        }
    };
    if (streams) {
        put("-P", "--parallel", std::to_string(*streams));
    }
    if (length) {
        put("-l", "--length", lengthText(*length));
    }
    std::string text = front;
    for (const std::string& token : tokens) {
        text.append(text.empty() ? "" : " ").append(token);
    }
    return text;
}

std::vector<std::string> ownTokens(const std::string& installed) {
    std::vector<std::string> tokens;
    for (const std::string_view token : tokensOf(installed)) {
        tokens.emplace_back(token);
    }
    return tokens;
}

}  // namespace

std::string probeParameters(const std::string& installed) {
    return withOptions(ownTokens(installed), 2, 16 * kKilo);
}

StageFit fitStageToLine(const std::string& installed, std::optional<double> lineMbps,
                        std::size_t serverCount) {
    const std::vector<std::string> tokens = ownTokens(installed);
    const Option parallel = optionOf(tokens, "-P", "--parallel");
    const Option writes = optionOf(tokens, "-l", "--length");
    const std::size_t installedStreams =
        parallel.present ? countOf(tokens[parallel.at]).value_or(kIperfDefaultStreams)
                         : kIperfDefaultStreams;
    const std::uint64_t installedLength =
        writes.present ? sizeOf(tokens[writes.at]).value_or(kIperfDefaultLength)
                       : kIperfDefaultLength;
    std::size_t servers = std::max<std::size_t>(serverCount, 1);
    const std::size_t fewest = std::min<std::size_t>(2, installedStreams);
    std::size_t streams = std::min(installedStreams, std::max(fewest, kMostStreams / servers));
    std::uint64_t length = installedLength;
    if (lineMbps && *lineMbps > 0 && *lineMbps < kFastLineMbps) {
        const std::size_t carried =
            static_cast<std::size_t>(std::floor(*lineMbps * kStreamsPerMbps));
        const std::size_t wanted =
            std::max(static_cast<std::size_t>(std::ceil(*lineMbps / kMbpsPerStream)),
                     std::min(kSlowLineStreams, carried));
        const auto serversCarried = static_cast<std::size_t>(std::min(
            std::floor(*lineMbps / kMbpsPerServer), static_cast<double>(carried / fewest)));
        servers = std::clamp<std::size_t>(serversCarried, 1, servers);
        const std::size_t most =
            std::max(fewest, std::min(installedStreams, kMostStreams / servers));
        streams = std::clamp(wanted / servers, fewest, most);
        const double streamMbps = *lineMbps / static_cast<double>(streams * servers);
        const double bytes = streamMbps * 1e6 / 8 * kWriteSeconds;
        length = std::min(std::max(wholeKilobytesDown(bytes), kShortestWrite), installedLength);
    }
    const bool asInstalled = streams == installedStreams && length == installedLength;
    return {asInstalled ? installed
                        : withOptions(tokens,
                                      streams == installedStreams && parallel.present
                                          ? std::nullopt
                                          : std::optional<std::size_t>(streams),
                                      length == installedLength && writes.present
                                          ? std::nullopt
                                          : std::optional<std::uint64_t>(length)),
            std::min(servers, std::max<std::size_t>(serverCount, 1))};
}

}  // namespace kestova::iperf
