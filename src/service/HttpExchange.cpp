#include "service/HttpExchange.h"

#include <optional>

#include "platform/SocketLayer.h"
#include "platform/TcpSocket.h"
#include "platform/TlsChannel.h"
#include "service/FirstAnswer.h"
#include "service/NameLookup.h"
#include "service/ReplyBody.h"
#include "workspace/RunLog.h"

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

// Reads until the deadline at the latest: a reply cut by it is what had arrived. The stream is the
// plain socket or the TLS channel over it.
template <typename Stream>
std::string receiveReply(Stream& socket, Clock::time_point deadline) {
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

// A service may answer and close before it has read the whole request: whatever it sent is still
// read, so the outcome of sending does not decide the reply.
template <typename Stream>
std::string sendAndReceive(Stream& stream, const std::string& request, Clock::time_point deadline) {
    static_cast<void>(stream.sendAllBy(request, deadline));
    return receiveReply(stream, deadline);
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
    FirstAnswer answer = connectToFirstAnswering(addresses, endpoint.connectTimeout);
    if (!answer.connection) {
        return {
            answer.noSocket ? ExchangeStatus::SocketFailed : ExchangeStatus::ConnectFailed, {}, {}};
    }
    const platform::IpEndpoint peer = answer.connection->peer;
    // From here one deadline holds for the handshake, the request and the whole reply: a service
    // that trickles its bytes cannot hold the exchange longer than one that stays silent.
    const Clock::time_point deadline = Clock::now() + endpoint.exchangeTimeout;
    const std::string request = buildRequestText(requestLine, endpoint.hostHeader);
    if (!endpoint.https) {
        report(progress.connected);
        return {ExchangeStatus::Replied,
                sendAndReceive(answer.connection->socket, request, deadline), peer};
    }
    // Over https the same bytes go inside TLS or not at all: a service whose certificate does
    // not verify, or that does not speak TLS in time, is unreachable.
    platform::TlsStart tls = platform::TlsChannel::connect(
        std::move(answer.connection->socket), {endpoint.host, endpoint.authorityFile}, deadline);
    if (!tls.channel) {
        runLog() << "service unreachable over https | " << serviceText(endpoint) << " at "
                 << peer.address << " | " << tls.failure;
        return {ExchangeStatus::ConnectFailed, {}, {}};
    }
    report(progress.connected);
    return {ExchangeStatus::Replied, sendAndReceive(*tls.channel, request, deadline), peer};
}

}  // namespace kestova
