#include "tools/test_service/TestServiceLoop.h"

#include <chrono>
#include <string>

namespace kestova::tools {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t kLargestHead = 64 * 1024;

std::string readRequestHead(platform::TcpSocket& connection) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kLargestHead) {
        if (connection.receiveSome(head, 4096, 5s) != platform::IoStatus::Ok) {
            break;
        }
    }
    return head;
}

}  // namespace

void serveConnection(platform::TcpSocket& connection, const TestServiceConfig& config) {
    const std::string head = readRequestHead(connection);
    if (head.empty()) {
        return;
    }
    static_cast<void>(
        connection.sendAll(answerRequest(config, head, connection.peerAddress()), 5s));
}

void serveUntilStopped(platform::TcpListener& listener, const TestServiceConfig& config,
                       const std::atomic<bool>& stop) {
    while (!stop.load()) {
        std::optional<platform::TcpSocket> connection = listener.accept(200ms);
        if (connection) {
            serveConnection(*connection, config);
        }
    }
}

}  // namespace kestova::tools
