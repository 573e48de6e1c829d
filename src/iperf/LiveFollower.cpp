#include "iperf/LiveFollower.h"

#include <system_error>

#include "workspace/StatusFile.h"

namespace kestova::iperf {

LiveFollower::LiveFollower(std::string_view baseName, std::size_t serverCount, std::string livePath,
                           std::chrono::milliseconds period)
    : livePath_(std::move(livePath)),
      period_(period),
      ended_(serverCount, false),
      totals_(baseName, serverCount) {
    writeWorkspaceFile(livePath_, "");
    try {
        thread_ = std::thread([this] { follow(); });
    } catch (const std::system_error&) {
        // No live lines then; finish still writes the stage's totals.
    }
}

LiveFollower::~LiveFollower() {
    stop();
}

void LiveFollower::serverEnded(std::size_t index) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (index < ended_.size()) {
        ended_[index] = true;
    }
}

void LiveFollower::finish(const std::vector<IntervalTotal>& merged) {
    stop();
    writeWorkspaceFile(livePath_, liveText(merged));
}

void LiveFollower::stop() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LiveFollower::follow() {
    for (;;) {
        std::vector<bool> ended;
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (wake_.wait_for(guard, period_, [this] { return stopping_; })) {
                return;
            }
            ended = ended_;
        }
        if (totals_.follow(ended)) {
            writeWorkspaceFile(livePath_, liveText(totals_.intervals()));
        }
        if (totals_.allEnded()) {
            return;
        }
    }
}

}  // namespace kestova::iperf
