#include "tools/test_service/TestServiceLoop.h"

#include <chrono>
#include <string>

namespace kestova::tools {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kLargestHead = 64 * 1024;
// The longest any wait lasts before stop is looked at again.
constexpr auto kStopCheck = 50ms;

template <typename Stream>
std::string readRequestHead(Stream& connection, Clock::time_point deadline,
                            const std::atomic<bool>& stop) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kLargestHead &&
           !stop.load()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return {};  // too slow: dropped unanswered
        }
        const platform::IoStatus status = connection.receiveSome(
            head, 4096, std::min<std::chrono::milliseconds>(left, kStopCheck));
        if (status == platform::IoStatus::Closed || status == platform::IoStatus::Failed) {
            break;  // the client has said all it will: what came is answered
        }
    }
    return stop.load() ? std::string{} : head;
}

template <typename Stream>
void serveWithin(Stream& connection, const TestServiceConfig& config, const std::atomic<bool>& stop,
                 Clock::time_point deadline) {
    const std::string head = readRequestHead(connection, deadline, stop);
    if (head.empty()) {
        return;
    }
    // The answers are small: the socket's buffer takes them at once.
    static_cast<void>(connection.sendAllBy(answerRequest(config, head, connection.peerAddress()),
                                           std::min(deadline, Clock::now() + kStopCheck)));
}

}  // namespace

void serveConnection(platform::TcpSocket& connection, const TestServiceConfig& config,
                     const std::atomic<bool>& stop) {
    serveWithin(connection, config, stop, Clock::now() + config.connectionBound);
}

void serveUntilStopped(platform::TcpListener& listener, const TestServiceConfig& config,
                       const std::atomic<bool>& stop, const platform::TlsServerIdentity* tls) {
    while (!stop.load()) {
        std::optional<platform::TcpSocket> connection = listener.accept(kStopCheck);
        if (!connection) {
            continue;
        }
        if (tls == nullptr) {
            serveConnection(*connection, config, stop);
            continue;
        }
        const Clock::time_point deadline = Clock::now() + config.connectionBound;
        platform::TlsStart secured = tls->accept(std::move(*connection), deadline);
        if (secured.channel) {
            serveWithin(*secured.channel, config, stop, deadline);
        }
    }
}

}  // namespace kestova::tools
