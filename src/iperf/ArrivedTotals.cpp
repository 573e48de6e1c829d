#include "iperf/ArrivedTotals.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "workspace/Text.h"

namespace kestova::iperf {

namespace {

// Bytes that mark data moving: more than iperf3's control exchange carries before a test.
constexpr std::uint64_t kMovingBytes = 8 * 1024;

// A client receives the bytes behind a loss only once the retransmission has filled the gap,
// and the kernel gives no count of what a socket holds out of order meanwhile: a download's
// second is read as the mean over it and the second before, which a hold of less than a second
// moves by half of what it moves a single second.
constexpr double kDownloadSpan = 2.0;

std::optional<std::uint16_t> portOf(const std::string& text) {
    const std::optional<unsigned> value = wholeNumber<unsigned>(text);
    if (!value || *value == 0 || *value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*value);
}

double mbpsOf(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) * 8 / 1e6 / seconds : 0;
}

}  // namespace

ArrivedTotals::ArrivedTotals(const std::vector<OurIperfServer>& servers, Side side, double now,
                             Source source)
    : side_(side), source_(std::move(source)) {
    for (const OurIperfServer& server : servers) {
        if (const std::optional<std::uint16_t> port = portOf(server.port)) {
            endpoints_.push_back({server.ipAddress, *port});
        }
    }
    if (const auto connections = source_(endpoints_)) {
        for (const platform::TcpConnectionBytes& connection : *connections) {
            baseline_[connection.id] =
                side_ == Side::ServersReceived ? connection.bytesAcked : connection.bytesReceived;
        }
    }
    looks_.push_back({now, 0});
}

std::uint64_t ArrivedTotals::countOf(const platform::TcpConnectionBytes& connection) const {
    // What a server holds beyond a lost segment has arrived: counted by acknowledgements alone,
    // a loss would hold a second's bytes back and add them to a later second at once.
    return side_ == Side::ServersReceived ? connection.bytesAcked + connection.bytesSacked
                                          : connection.bytesReceived;
}

std::optional<std::uint64_t> ArrivedTotals::totalNow() {
    const auto connections = source_(endpoints_);
    if (!connections) {
        return std::nullopt;
    }
    for (const platform::TcpConnectionBytes& connection : *connections) {
        std::uint64_t& largest = largest_[connection.id];
        largest = std::max(largest, countOf(connection));
    }
    // A socket that has closed keeps the largest count it was seen with.
    std::uint64_t total = 0;
    for (const auto& [id, largest] : largest_) {
        const auto before = baseline_.find(id);
        const std::uint64_t base = before == baseline_.end() ? 0 : before->second;
        total += largest > base ? largest - base : 0;
    }
    return total;
}

bool ArrivedTotals::look(double now) {
    const std::optional<std::uint64_t> total = totalNow();
    if (!total) {
        return false;
    }
    if (!start_ && *total >= kMovingBytes) {
        start_ = looks_.back().at;
    }
    if (*total > looks_.back().bytes) {
        lastGrowth_ = now;
    }
    looks_.push_back({now, *total});
    addWholeSeconds();
    return true;
}

std::uint64_t ArrivedTotals::bytesAt(double at) const {
    // Between the two looks around the time, read on the straight line through them.
    const auto after = std::find_if(looks_.begin(), looks_.end(),
                                    [at](const Look& look) { return look.at >= at; });
    if (after == looks_.end()) {
        return looks_.back().bytes;
    }
    if (after == looks_.begin() || after->at == at) {
        return after->bytes;
    }
    const Look& before = *(after - 1);
    const double share = (at - before.at) / (after->at - before.at);
    return before.bytes +
           static_cast<std::uint64_t>(share * static_cast<double>(after->bytes - before.bytes));
}

double ArrivedTotals::secondsRead() const {
    return side_ == Side::ClientsReceived ? kDownloadSpan : 1.0;
}

void ArrivedTotals::addWholeSeconds() {
    if (!start_) {
        return;
    }
    for (;;) {
        const double end = *start_ + static_cast<double>(intervals_.size() + 1);
        // A second after the data stopped is no second of the stage's.
        if (lastGrowth_ < end) {
            return;
        }
        const double span = std::min(secondsRead(), end - *start_);
        const std::uint64_t bytes = bytesAt(end) - bytesAt(end - span);
        intervals_.push_back(
            {twoDecimals(static_cast<double>(intervals_.size() + 1)), mbpsOf(bytes, span)});
    }
}

}  // namespace kestova::iperf
