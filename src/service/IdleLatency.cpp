#include "service/IdleLatency.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "service/FirstAnswer.h"

namespace kestova {

using Clock = std::chrono::steady_clock;

struct IdleLatency::Shared {
    std::size_t count = 0;
    std::chrono::milliseconds spacing{0};
    Clock::time_point deadline;
    std::mutex lock;
    std::condition_variable changed;
    bool finishing = false;
    bool done = false;
    Taken taken;
};

namespace {

std::chrono::milliseconds timeLeft(Clock::time_point deadline) {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

// The fewest samples a finished sampling still takes: two tell a jitter, and on a quick line
// they cost a spacing.
constexpr std::size_t kFewestSamples = 2;

// True when the next sample is due; false when the sampling is to end first: it was finished
// and holds its fewest samples, or the bound has passed.
bool waitForTheNextSample(IdleLatency::Shared& shared, Clock::time_point next) {
    std::unique_lock<std::mutex> guard(shared.lock);
    const auto endNow = [&shared] {
        return shared.finishing && shared.taken.series.size() >= kFewestSamples;
    };
    if (shared.changed.wait_until(guard, std::min(next, shared.deadline), endNow)) {
        return false;
    }
    return Clock::now() < shared.deadline;
}

// The first sample finds the address of the service that answers (IPv6 or IPv4, in the
// resolver's order); the later ones go to that address only.
std::optional<double> firstSample(IdleLatency::Shared& shared,
                                  const std::vector<platform::IpEndpoint>& addresses) {
    FirstAnswer answer = connectToFirstAnswering(addresses, timeLeft(shared.deadline));
    if (!answer.connection) {
        return std::nullopt;
    }
    const std::lock_guard<std::mutex> guard(shared.lock);
    shared.taken.peer = answer.connection->peer;
    return std::chrono::duration<double, std::milli>(answer.connection->took).count();
}

void sampleIdleLatency(const std::shared_ptr<IdleLatency::Shared>& shared, const std::string& host,
                       std::uint16_t port, const NameResolver& resolve) {
    const std::vector<platform::IpEndpoint> addresses =
        resolveWithin(host, port, timeLeft(shared->deadline), resolve);
    Clock::time_point next = Clock::now();
    for (std::size_t k = 0;
         !addresses.empty() && k < shared->count && waitForTheNextSample(*shared, next); ++k) {
        next = std::max(next + shared->spacing, Clock::now());
        std::optional<platform::IpEndpoint> peer;
        {
            const std::lock_guard<std::mutex> guard(shared->lock);
            peer = shared->taken.peer;
        }
        const std::optional<double> sample =
            peer ? connectTime(*peer, timeLeft(shared->deadline)) : firstSample(*shared, addresses);
        const std::lock_guard<std::mutex> guard(shared->lock);
        shared->taken.series.push_back(sample);
    }
}

}  // namespace

IdleLatency::IdleLatency(std::string host, std::uint16_t port, std::size_t count,
                         std::chrono::milliseconds spacing, std::chrono::milliseconds bound,
                         NameResolver resolve)
    : shared_(std::make_shared<Shared>()) {
    shared_->count = count;
    shared_->spacing = spacing;
    shared_->deadline = Clock::now() + bound;
    try {
        std::thread([shared = shared_, host = std::move(host), port, resolve = std::move(resolve)] {
            sampleIdleLatency(shared, host, port, resolve);
            const std::lock_guard<std::mutex> guard(shared->lock);
            shared->done = true;
            shared->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to sample on: the idle figure is missing.
        shared_->done = true;
    }
}

IdleLatency::~IdleLatency() {
    // The sampling thread ends by the bound on its own; nobody waits for it.
    const std::lock_guard<std::mutex> guard(shared_->lock);
    shared_->finishing = true;
    shared_->changed.notify_all();
}

IdleLatency::Taken IdleLatency::finish() {
    std::unique_lock<std::mutex> guard(shared_->lock);
    shared_->finishing = true;
    shared_->changed.notify_all();
    shared_->changed.wait_until(guard, shared_->deadline, [this] { return shared_->done; });
    return shared_->taken;
}

}  // namespace kestova
