#include "service/LatencySampler.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace kestova {

LatencySampler::LatencySampler(std::optional<platform::IpEndpoint> peer,
                               std::chrono::milliseconds period, std::chrono::milliseconds timeout)
    : period_(period), timeout_(timeout) {
    if (!peer) {
        return;
    }
    try {
        thread_ = std::thread([this, address = *peer] { sample(address); });
    } catch (const std::system_error&) {
        // No samples under load then; the figures say so.
    }
}

LatencySampler::~LatencySampler() {
    static_cast<void>(stop());
}

LatencySeries LatencySampler::stop() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    const std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(series_, {});
}

std::size_t LatencySampler::samplesSoFar() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return series_.size();
}

void LatencySampler::sample(platform::IpEndpoint peer) {
    auto next = std::chrono::steady_clock::now() + period_;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (wake_.wait_until(guard, next, [this] { return stopping_; })) {
                return;
            }
        }
        next = std::max(next + period_, std::chrono::steady_clock::now());
        const std::optional<double> sample = connectTime(peer, timeout_);
        const std::lock_guard<std::mutex> guard(lock_);
        series_.push_back(sample);
    }
}

}  // namespace kestova
