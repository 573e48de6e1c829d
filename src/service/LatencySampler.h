#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/TcpSocket.h"
#include "service/ConnectLatency.h"

namespace kestova {

// Takes a latency sample every period on a thread of its own, from one period after it was made
// until it is stopped: the latency under load while a stage's clients run.
// Contract: made and stopped by one thread (the stage's). Its own thread only connects to the
// peer and keeps the series; stop returns within the time-out of a sample under way. Without a
// peer, or without a thread to be had, the series stays empty.
class LatencySampler {
  public:
    LatencySampler(std::optional<platform::IpEndpoint> peer, std::chrono::milliseconds period,
                   std::chrono::milliseconds timeout);
    LatencySampler(const LatencySampler&) = delete;
    LatencySampler& operator=(const LatencySampler&) = delete;
    ~LatencySampler();

    // Ends the sampling and gives the series; later calls give an empty one.
    LatencySeries stop();

    // How many samples the series holds so far: what a caller watching the sampling can see.
    std::size_t samplesSoFar() const;

  private:
    void sample(platform::IpEndpoint peer);

    const std::chrono::milliseconds period_;
    const std::chrono::milliseconds timeout_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    LatencySeries series_;
    std::thread thread_;
};

}  // namespace kestova
