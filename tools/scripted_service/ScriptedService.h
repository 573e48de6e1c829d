#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/TcpSocket.h"

namespace kestova::tools {

// One step of what the stand-in does on every connection once it has read the request head.
struct ScriptStep {
    enum class Kind { Send, Pause, Hang, Trickle };
    Kind kind = Kind::Send;
    std::string bytes;
    std::chrono::milliseconds pause{0};

    static ScriptStep send(std::string bytes) { return {Kind::Send, std::move(bytes), {}}; }
    static ScriptStep wait(std::chrono::milliseconds pause) { return {Kind::Pause, {}, pause}; }
    // Holds the connection open, silent, until the stand-in is destroyed.
    static ScriptStep hang() { return {Kind::Hang, {}, {}}; }
    // Sends the bytes one at a time, the pause before each.
    static ScriptStep trickle(std::string bytes, std::chrono::milliseconds pause) {
        return {Kind::Trickle, std::move(bytes), pause};
    }
};

// A stand-in for the test service that plays exact bytes: in pieces with pauses between them,
// one byte at a time, nothing at all, or a reply cut short (the connection closes after the last
// step, or as soon as the client has gone away).
// Contract: it serves on its own thread from construction to destruction; the destructor stops
// and joins that thread within a fraction of a second, even in the middle of a hang or a pause.
// requests() may be called from any thread.
class ScriptedService {
  public:
    // Chooses the steps for a connection from the request head it sent.
    using Responder = std::function<std::vector<ScriptStep>(const std::string& requestHead)>;

    // Plays the same steps on every connection.
    explicit ScriptedService(std::vector<ScriptStep> script);
    explicit ScriptedService(Responder responder);
    ScriptedService(const ScriptedService&) = delete;
    ScriptedService& operator=(const ScriptedService&) = delete;
    ~ScriptedService();

    std::uint16_t port() const { return listener_.port(); }
    // The request bytes received on each connection so far, in order.
    std::vector<std::string> requests() const;

  private:
    void serve();
    void play(platform::TcpSocket& connection);
    // False when the client has gone away or the stand-in is stopping.
    bool playStep(platform::TcpSocket& connection, const ScriptStep& step);
    void pauseUnlessStopped(std::chrono::milliseconds pause);

    Responder responder_;
    platform::TcpListener listener_;
    std::atomic<bool> stop_{false};
    mutable std::mutex requestsLock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace kestova::tools
