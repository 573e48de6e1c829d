#include "service/NameLookup.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace kestova {

namespace {

// What the caller and the helper share; it lives as long as the longer of the two.
struct PendingLookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::vector<platform::IpEndpoint> addresses;
};

}  // namespace

std::vector<platform::IpEndpoint> resolveWithin(const std::string& host, std::uint16_t port,
                                                std::chrono::milliseconds bound,
                                                const NameResolver& resolve) {
    auto pending = std::make_shared<PendingLookup>();
    try {
        std::thread([pending, host, port, resolve] {
            std::vector<platform::IpEndpoint> addresses = resolve(host, port);
            const std::lock_guard<std::mutex> guard(pending->lock);
            pending->addresses = std::move(addresses);
            pending->finished = true;
            pending->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return {};
    }
    std::unique_lock<std::mutex> guard(pending->lock);
    if (!pending->done.wait_for(guard, bound, [&pending] { return pending->finished; })) {
        return {};
    }
    return pending->addresses;
}

}  // namespace kestova
