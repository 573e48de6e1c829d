#include "service/ServerAssignment.h"

#include <algorithm>

#include "iperf/IperfCommandScripts.h"
#include "iperf/ServerTextCheck.h"
#include "service/HttpExchange.h"
#include "service/ReplyBody.h"
#include "service/RequestLines.h"
#include "workspace/RunLog.h"
#include "workspace/StatusFile.h"
#include "workspace/TextEscape.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

constexpr std::string_view kResultCodeKey = "resultCode=";
constexpr std::string_view kAddressKey = "ipAddress=";
constexpr std::string_view kPortKey = "port=";

// The text after the key when the item holds it.
bool valueAfter(std::string_view item, std::string_view key, std::string& value) {
    const std::size_t at = item.find(key);
    if (at == std::string_view::npos) {
        return false;
    }
    value = std::string(item.substr(at + key.size()));
    return true;
}

// The server as the run log names it: the service's texts with their control characters escaped.
std::string namedInLog(const NamedServer& named) {
    return "IP address: " + withControlCharactersEscaped(named.server.ipAddress) +
           " , port: " + withControlCharactersEscaped(named.server.port);
}

void logServers(const AssignmentReply& reply) {
    for (const NamedServer& named : reply.servers) {
        switch (named.fate) {
            case ServerFate::Kept:
                runLog() << "our iperf server | " << namedInLog(named);
                break;
            case ServerFate::Rejected:
                runLog() << "rejected iperf server, not a plain address and port | "
                         << namedInLog(named);
                break;
            case ServerFate::Repeated:
                runLog() << "repeated iperf server, runs once | " << namedInLog(named);
                break;
            case ServerFate::LeftOut:
                runLog() << "iperf server left out, at most " << kMaxServersInTest
                         << " in one test | " << namedInLog(named);
                break;
        }
    }
}

std::vector<OurIperfServer> keptServers(const AssignmentReply& reply) {
    std::vector<OurIperfServer> servers;
    for (const NamedServer& named : reply.servers) {
        if (named.fate == ServerFate::Kept) {
            servers.push_back(named.server);
        }
    }
    return servers;
}

char lowerCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// One server, however the reply spells it: host names ignore letter case, ports leading zeros.
bool sameServer(const OurIperfServer& a, const OurIperfServer& b) {
    const auto sameText = [](std::string_view x, std::string_view y) {
        return x.size() == y.size() &&
               std::equal(x.begin(), x.end(), y.begin(),
                          [](char p, char q) { return lowerCase(p) == lowerCase(q); });
    };
    const auto portNumber = [](std::string_view port) {
        return port.substr(std::min(port.find_first_not_of('0'), port.size()));
    };
    return sameText(a.ipAddress, b.ipAddress) && portNumber(a.port) == portNumber(b.port);
}

ServerFate fateOf(const OurIperfServer& server, const std::vector<NamedServer>& earlier,
                  std::size_t keptSoFar) {
    if (!isAcceptableServerAddress(server.ipAddress) || !isAcceptableServerPort(server.port)) {
        return ServerFate::Rejected;
    }
    for (const NamedServer& named : earlier) {
        if (named.fate == ServerFate::Kept && sameServer(named.server, server)) {
            return ServerFate::Repeated;
        }
    }
    return keptSoFar < kMaxServersInTest ? ServerFate::Kept : ServerFate::LeftOut;
}

}  // namespace

std::vector<OurIperfServer> ServerAssignmentState::iperfServerList() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return servers_;
}

std::string ServerAssignmentState::currentIpAddress() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return currentIpAddress_;
}

std::string ServerAssignmentState::currentPort() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return currentPort_;
}

AssignmentReply ServerAssignmentState::takeReply(std::string_view body) {
    const std::lock_guard<std::mutex> guard(lock_);
    AssignmentReply reply;
    std::size_t kept = 0;
    // Only items ended by a comma count; text after the last comma is ignored.
    for (std::size_t comma = body.find(','); comma != std::string_view::npos;
         comma = body.find(',')) {
        const std::string_view item = body.substr(0, comma);
        body.remove_prefix(comma + 1);
        if (valueAfter(item, kResultCodeKey, reply.resultCode) ||
            valueAfter(item, kAddressKey, currentIpAddress_)) {
            continue;
        }
        if (valueAfter(item, kPortKey, currentPort_)) {
            OurIperfServer server(currentIpAddress_, currentPort_);
            const ServerFate fate = fateOf(server, reply.servers, kept);
            kept += fate == ServerFate::Kept ? 1 : 0;
            reply.servers.push_back({std::move(server), fate});
        }
    }
    servers_ = keptServers(reply);
    return reply;
}

ServerAssignmentState& serverAssignmentState() {
    static ServerAssignmentState state;
    return state;
}

std::vector<OurIperfServer> iperfServerList() {
    return serverAssignmentState().iperfServerList();
}
std::string currentIpAddress() {
    return serverAssignmentState().currentIpAddress();
}
std::string currentPort() {
    return serverAssignmentState().currentPort();
}

AssignmentResult requestIperfServer(const ServiceEndpoint& endpoint, ServerAssignmentState& state) {
    const ExchangeOutcome outcome =
        exchangeWithService(endpoint, requests::kServerAssignment,
                            {[] { writeWorkspaceFile(workspace::kHttpStatus, "Connecting...\n"); },
                             [] { writeWorkspaceFile(workspace::kHttpStatus, "Connected.\n"); }});
    switch (outcome.status) {
        case ExchangeStatus::SocketLayerNotStarted:
            writeWorkspaceFile(workspace::kHttpStatus, "WSAStartup failed.\n");
            return AssignmentResult::Refused;
        case ExchangeStatus::SocketFailed:
            // No socket to be had (no descriptors left, say): the service could not be reached,
            // as when connecting fails.
            writeWorkspaceFile(workspace::kHttpStatus, "Connecting...\n");
            writeWorkspaceFile(workspace::kHttpStatus, "Could not connect");
            return AssignmentResult::Unreachable;
        case ExchangeStatus::HostNotFound:
            return AssignmentResult::Unreachable;
        case ExchangeStatus::ConnectFailed:
            writeWorkspaceFile(workspace::kHttpStatus, "Could not connect");
            return AssignmentResult::Unreachable;
        case ExchangeStatus::Replied:
            break;
    }
    const std::string body = extractReplyBody(outcome.reply);
    writeWorkspaceFile(workspace::kHttpStatus, body);
    const AssignmentReply reply = state.takeReply(body);
    logServers(reply);
    if (reply.resultCode != "0") {
        return AssignmentResult::Refused;
    }
    const std::string parameters = readIperfParameters();
    const std::vector<OurIperfServer> servers = keptServers(reply);
    if (servers.empty()) {
        return AssignmentResult::Refused;
    }
    for (std::size_t index = 0; index < servers.size(); ++index) {
        writeCommandScripts(servers[index], index, parameters);
    }
    return AssignmentResult::Granted;
}

}  // namespace kestova
