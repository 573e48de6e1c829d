#include "iperf/LiveFollower.h"

#include <system_error>

#include "workspace/StatusFile.h"

namespace kestova::iperf {

LiveFollower::LiveFollower(std::string_view baseName, std::size_t serverCount, std::string livePath,
                           std::chrono::milliseconds period,
                           const std::vector<OurIperfServer>& countArrivalsAt,
                           ArrivedTotals::Side side)
    : livePath_(std::move(livePath)),
      period_(period),
      ended_(serverCount, false),
      totals_(baseName, serverCount) {
    if (!countArrivalsAt.empty()) {
        arrivals_.emplace(countArrivalsAt, side, now());
    }
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

std::vector<std::optional<double>> LiveFollower::finish(const std::vector<IntervalTotal>& merged) {
    stop();
    // One last look, the own thread having ended: an output written since its last look gets its
    // start too.
    {
        const std::lock_guard<std::mutex> guard(lock_);
        totals_.follow(ended_, now());
    }
    writeWorkspaceFile(livePath_, arrivals_ && arrivals_->moving()
                                      ? liveText(arrivals_->intervals())
                                      : liveText(merged));
    return totals_.measuringStarts();
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

double LiveFollower::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
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
        const std::size_t arrived = arrivals_ ? arrivals_->intervals().size() : 0;
        if (arrivals_) {
            arrivals_->look(now());
        }
        const bool added = totals_.follow(ended, now());
        if (arrivals_ && arrivals_->moving()) {
            if (arrivals_->intervals().size() > arrived) {
                writeWorkspaceFile(livePath_, liveText(arrivals_->intervals()));
            }
        } else if (added) {
            writeWorkspaceFile(livePath_, liveText(totals_.intervals()));
        }
        // A client still running after its worker's wait is a late finisher: its end still
        // counts, so the look goes on until every output is complete or the stage merges.
        if (totals_.allComplete()) {
            return;
        }
    }
}

}  // namespace kestova::iperf
