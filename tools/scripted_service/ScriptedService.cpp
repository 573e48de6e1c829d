#include "tools/scripted_service/ScriptedService.h"

#include <cstdlib>
#include <iostream>

namespace kestova::tools {

namespace {

using namespace std::chrono_literals;

platform::TcpListener listenOrDie() {
    std::optional<platform::TcpListener> listener = platform::TcpListener::listenOnLoopback(0);
    if (!listener) {
        std::cerr << "scripted service: cannot listen on loopback\n";
        std::abort();
    }
    return std::move(*listener);
}

}  // namespace

ScriptedService::ScriptedService(std::vector<ScriptStep> script)
    : ScriptedService(
          Responder([script = std::move(script)](const std::string&) { return script; })) {}

ScriptedService::ScriptedService(Responder responder)
    : responder_(std::move(responder)), listener_(listenOrDie()), thread_([this] { serve(); }) {}

ScriptedService::~ScriptedService() {
    stop_.store(true);
    thread_.join();
}

std::vector<std::string> ScriptedService::requests() const {
    const std::lock_guard<std::mutex> guard(requestsLock_);
    return requests_;
}

void ScriptedService::serve() {
    while (!stop_.load()) {
        std::optional<platform::TcpSocket> connection = listener_.accept(50ms);
        if (connection) {
            play(*connection);
        }
    }
}

void ScriptedService::play(platform::TcpSocket& connection) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && !stop_.load()) {
        if (connection.receiveSome(head, 65536, 2s) != platform::IoStatus::Ok) {
            break;
        }
    }
    if (head.empty()) {
        // Opened and closed without a word (the latency samples): no request, nothing to answer.
        return;
    }
    {
        const std::lock_guard<std::mutex> guard(requestsLock_);
        requests_.push_back(head);
    }
    for (const ScriptStep& step : responder_(head)) {
        if (!playStep(connection, step)) {
            return;
        }
    }
}

bool ScriptedService::playStep(platform::TcpSocket& connection, const ScriptStep& step) {
    switch (step.kind) {
        case ScriptStep::Kind::Send:
            return connection.sendAll(step.bytes, 2s) != platform::IoStatus::Failed;
        case ScriptStep::Kind::Pause:
            pauseUnlessStopped(step.pause);
            break;
        case ScriptStep::Kind::Hang:
            pauseUnlessStopped(24h);
            break;
        case ScriptStep::Kind::Trickle:
            for (const char byte : step.bytes) {
                pauseUnlessStopped(step.pause);
                if (stop_.load() || connection.sendAll(std::string_view(&byte, 1), 2s) ==
                                        platform::IoStatus::Failed) {
                    return false;
                }
            }
            break;
    }
    return !stop_.load();
}

void ScriptedService::pauseUnlessStopped(std::chrono::milliseconds pause) {
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!stop_.load() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            10ms, until - std::chrono::steady_clock::now()));
    }
}

}  // namespace kestova::tools
