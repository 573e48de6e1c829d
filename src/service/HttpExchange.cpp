#include "service/HttpExchange.h"

#include <optional>

#include "platform/SocketLayer.h"
#include "platform/TcpSocket.h"
#include "service/FirstAnswer.h"
#include "service/NameLookup.h"
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

using Clock = std::chrono::steady_clock;

// Reads until the deadline at the latest: a reply cut by it is what had arrived.
std::string receiveReply(platform::TcpSocket& socket, Clock::time_point deadline) {
    std::string reply;
    while (reply.size() < kReplyCapacity) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        const platform::IoStatus status =
            socket.receiveSome(reply, kReplyCapacity - reply.size(), left);
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
                                    const ExchangeProgress& progress, const NameResolver& resolve) {
    const platform::SocketLayer socketLayer;
    if (!socketLayer.started()) {
        return {ExchangeStatus::SocketLayerNotStarted, {}, {}};
    }
    const std::vector<platform::IpEndpoint> addresses =
        resolveWithin(endpoint.host, endpoint.port, endpoint.resolveTimeout, resolve);
    if (addresses.empty()) {
        return {ExchangeStatus::HostNotFound, {}, {}};
    }
    report(progress.hostFound);
    // Nothing meant for https ever goes out in clear.
    if (endpoint.https) {
        return {ExchangeStatus::ConnectFailed, {}, {}};
    }
    FirstAnswer answer = connectToFirstAnswering(addresses, endpoint.connectTimeout);
    if (!answer.connection) {
        return {
            answer.noSocket ? ExchangeStatus::SocketFailed : ExchangeStatus::ConnectFailed, {}, {}};
    }
    platform::TcpSocket& socket = answer.connection->socket;
    // From here one deadline holds for the request and the whole reply: a service that trickles
    // its bytes cannot hold the exchange longer than one that stays silent.
    const Clock::time_point deadline = Clock::now() + endpoint.exchangeTimeout;
    report(progress.connected);
    // A service may answer and close before it has read the whole request: whatever it sent
    // is still read, so the outcome of sending does not decide the reply.
    static_cast<void>(
        socket.sendAllBy(buildRequestText(requestLine, endpoint.hostHeader), deadline));
    return {ExchangeStatus::Replied, receiveReply(socket, deadline), answer.connection->peer};
}

}  // namespace kestova
