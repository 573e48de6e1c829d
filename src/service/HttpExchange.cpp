#include "service/HttpExchange.h"

#include <optional>

#include "platform/TcpSocket.h"
#include "service/ReplyBody.h"

namespace kestova {

namespace {

void report(const std::function<void()>& step) {
    if (step) {
        step();
    }
}

bool announcedBodyComplete(std::string_view reply) {
    const std::optional<AnnouncedBody> body = announcedBody(reply);
    return body && body->length >= 0 &&
           reply.size() - body->start >= static_cast<std::size_t>(body->length);
}

std::string receiveReply(platform::TcpSocket& socket, std::chrono::milliseconds idleTimeout) {
    std::string reply;
    while (reply.size() < kReplyCapacity) {
        const platform::IoStatus status =
            socket.receiveSome(reply, kReplyCapacity - reply.size(), idleTimeout);
        if (status != platform::IoStatus::Ok || announcedBodyComplete(reply)) {
            break;
        }
    }
    // The reply is text: it ends where a zero byte stands.
    reply.resize(std::min(reply.size(), reply.find('\0')));
    return reply;
}

}  // namespace

std::string buildRequestText(std::string_view requestLine, std::string_view hostHeader) {
    std::string text;
    text.reserve(requestLine.size() + hostHeader.size() + 40);
    text.append(requestLine).append("\r\n");
    text.append("Host: ").append(hostHeader).append("\r\n");
    text.append("Connection: close\r\n");
    text.append("\r\n");
    return text;
}

ExchangeOutcome exchangeWithService(const ServiceEndpoint& endpoint, std::string_view requestLine,
                                    const ExchangeProgress& progress) {
    std::optional<platform::TcpSocket> socket = platform::TcpSocket::open();
    if (!socket) {
        return {ExchangeStatus::SocketFailed, {}};
    }
    const std::optional<platform::Ipv4Endpoint> peer =
        platform::resolveIpv4(endpoint.host, endpoint.port);
    if (!peer) {
        return {ExchangeStatus::HostNotFound, {}};
    }
    report(progress.hostFound);
    if (socket->connect(*peer, endpoint.connectTimeout) != platform::IoStatus::Ok) {
        return {ExchangeStatus::ConnectFailed, {}};
    }
    report(progress.connected);
    // A service may answer and close before it has read the whole request: whatever it sent
    // is still read, so the outcome of sending does not decide the reply.
    static_cast<void>(socket->sendAll(buildRequestText(requestLine, endpoint.hostHeader),
                                      endpoint.receiveIdleTimeout));
    return {ExchangeStatus::Replied, receiveReply(*socket, endpoint.receiveIdleTimeout)};
}

}  // namespace kestova
