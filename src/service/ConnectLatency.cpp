#include "service/ConnectLatency.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "workspace/Text.h"

namespace kestova {

namespace {

using Clock = std::chrono::steady_clock;

std::string figureText(const std::optional<double>& figure) {
    return figure ? twoDecimals(*figure) : std::string("-");
}

}  // namespace

std::optional<double> connectTime(const platform::IpEndpoint& peer,
                                  std::chrono::milliseconds timeout) {
    std::optional<platform::TcpSocket> socket = platform::TcpSocket::open(platform::familyOf(peer));
    if (!socket) {
        return std::nullopt;
    }
    const Clock::time_point start = Clock::now();
    if (socket->connect(peer, timeout) != platform::IoStatus::Ok) {
        return std::nullopt;
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

LatencySeries sampleLatency(const platform::IpEndpoint& peer, std::size_t count,
                            std::chrono::milliseconds spacing, std::chrono::milliseconds timeout) {
    LatencySeries series;
    Clock::time_point next = Clock::now();
    for (std::size_t k = 0; k < count; ++k) {
        std::this_thread::sleep_until(next);
        next = std::max(next + spacing, Clock::now());
        series.push_back(connectTime(peer, timeout));
    }
    return series;
}

LatencyFigures latencyFiguresOf(const LatencySeries& series) {
    LatencyFigures figures;
    std::vector<double> answered;
    for (const std::optional<double>& sample : series) {
        if (sample) {
            answered.push_back(*sample);
        } else {
            ++figures.lost;
        }
    }
    figures.samples = answered.size();
    if (answered.empty()) {
        return figures;
    }
    double differences = 0;
    for (std::size_t k = 1; k < answered.size(); ++k) {
        differences += std::fabs(answered[k] - answered[k - 1]);
    }
    if (answered.size() > 1) {
        figures.jitterMs = differences / static_cast<double>(answered.size() - 1);
    }
    std::sort(answered.begin(), answered.end());
    const std::size_t middle = answered.size() / 2;
    figures.medianMs =
        answered.size() % 2 == 1 ? answered[middle] : (answered[middle - 1] + answered[middle]) / 2;
    return figures;
}

std::string latencyLine(std::string_view name, const LatencyFigures& figures) {
    return std::string(name) + " " + figureText(figures.medianMs) + " " +
           figureText(figures.jitterMs) + " " + std::to_string(figures.samples) + " " +
           std::to_string(figures.lost) + "\n";
}

}  // namespace kestova
