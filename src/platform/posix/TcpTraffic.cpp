#include "platform/TcpTraffic.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

// However many connections the host has, one answer is complete within this or counts as none.
constexpr std::chrono::milliseconds kAnswerBound{1000};

// The kernel's TCP state numbers (include/net/tcp_states.h) that hold no connection's counts:
// a listener, a connection's leftover after close, a request not yet accepted.
constexpr std::uint32_t kTimeWait = 6;
constexpr std::uint32_t kListen = 10;
constexpr std::uint32_t kNewSynReceived = 12;
constexpr std::uint32_t kStatesAsked =
    ~((1u << kTimeWait) | (1u << kListen) | (1u << kNewSynReceived));

// Large enough for any one datagram of a dump, which the kernel keeps near a page or 32 KiB.
constexpr std::size_t kReceiveBuffer = 64 * 1024;

// An address as 16 bytes, IPv4 in its mapped IPv6 form, so that an IPv4 peer matches whether its
// socket is IPv4 or dual-stack IPv6.
using Address16 = std::array<unsigned char, 16>;

struct ParsedEndpoint {
    Address16 address{};
    std::uint16_t port = 0;
};

Address16 mappedIpv4(const void* networkOrderIpv4) {
    Address16 address{};
    address[10] = 0xff;
    address[11] = 0xff;
    std::memcpy(address.data() + 12, networkOrderIpv4, 4);
    return address;
}

std::optional<ParsedEndpoint> parseEndpoint(const RemoteEndpoint& endpoint) {
    std::string_view text = endpoint.address;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    const std::string bare(text);
    ParsedEndpoint parsed;
    parsed.port = endpoint.port;
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, bare.c_str(), &v4) == 1) {
        parsed.address = mappedIpv4(&v4);
    } else if (::inet_pton(AF_INET6, bare.c_str(), &v6) == 1) {
        std::memcpy(parsed.address.data(), &v6, parsed.address.size());
    } else {
        return std::nullopt;
    }
    return parsed;
}

// The netlink socket of one call, closed when the call ends.
class DiagSocket {
  public:
    DiagSocket()
        : fd_(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG)) {}
    DiagSocket(const DiagSocket&) = delete;
    DiagSocket& operator=(const DiagSocket&) = delete;
    ~DiagSocket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

bool askForDump(int fd, std::uint8_t family, std::uint32_t sequence) {
    struct Request {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.sdiag_family = family;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_ext = 1u << (INET_DIAG_INFO - 1);
    request.body.idiag_states = kStatesAsked;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t sent = ::sendto(fd, &request, sizeof request, 0,
                                      reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
        if (sent == static_cast<ssize_t>(sizeof request)) {
            return true;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        return false;
    }
}

using Bytes = std::span<const unsigned char>;

// Netlink messages and their attributes each start at a multiple of four bytes.
constexpr std::size_t alignedLength(std::size_t length) {
    return (length + 3) & ~std::size_t{3};
}

// The attribute's payload, or an empty view when the message holds no such attribute.
Bytes findAttribute(Bytes attributes, unsigned short type) {
    while (attributes.size() >= sizeof(rtattr)) {
        rtattr header;
        std::memcpy(&header, attributes.data(), sizeof header);
        if (header.rta_len < sizeof header || header.rta_len > attributes.size()) {
            break;
        }
        if (header.rta_type == type) {
            return attributes.subspan(sizeof header, header.rta_len - sizeof header);
        }
        attributes = attributes.subspan(std::min(alignedLength(header.rta_len), attributes.size()));
    }
    return {};
}

// An 8-byte field of the tcp_info attribute; 0 when the kernel's struct ends before it.
std::uint64_t infoField(Bytes info, std::size_t offset) {
    std::uint64_t value = 0;
    if (offset + sizeof value <= info.size()) {
        std::memcpy(&value, info.data() + offset, sizeof value);
    }
    return value;
}

// A 4-byte field of the tcp_info attribute; 0 when the kernel's struct ends before it.
std::uint32_t infoField32(Bytes info, std::size_t offset) {
    std::uint32_t value = 0;
    if (offset + sizeof value <= info.size()) {
        std::memcpy(&value, info.data() + offset, sizeof value);
    }
    return value;
}

// One socket of the dump (the message's payload): added to found when it is connected to an
// endpoint and carries counts.
void takeSocket(Bytes payload, const std::vector<std::optional<ParsedEndpoint>>& wanted,
                std::vector<TcpConnectionBytes>& found) {
    if (payload.size() < sizeof(inet_diag_msg)) {
        return;
    }
    inet_diag_msg socketInfo;
    std::memcpy(&socketInfo, payload.data(), sizeof socketInfo);
    Address16 remote{};
    if (socketInfo.idiag_family == AF_INET) {
        remote = mappedIpv4(&socketInfo.id.idiag_dst[0]);
    } else if (socketInfo.idiag_family == AF_INET6) {
        std::memcpy(remote.data(), socketInfo.id.idiag_dst, remote.size());
    } else {
        return;
    }
    const std::uint16_t remotePort = ntohs(socketInfo.id.idiag_dport);
    std::size_t index = 0;
    while (index < wanted.size() && !(wanted[index] && wanted[index]->port == remotePort &&
                                      wanted[index]->address == remote)) {
        ++index;
    }
    if (index == wanted.size()) {
        return;
    }
    payload = payload.subspan(std::min(alignedLength(sizeof(inet_diag_msg)), payload.size()));
    const Bytes info = findAttribute(payload, INET_DIAG_INFO);
    if (info.empty()) {
        return;
    }
    TcpConnectionBytes connection;
    connection.id = static_cast<std::uint64_t>(socketInfo.id.idiag_cookie[0]) |
                    (static_cast<std::uint64_t>(socketInfo.id.idiag_cookie[1]) << 32);
    connection.endpoint = index;
    connection.bytesReceived = infoField(info, offsetof(tcp_info, tcpi_bytes_received));
    connection.bytesAcked = infoField(info, offsetof(tcp_info, tcpi_bytes_acked));
    connection.bytesSacked = std::uint64_t{infoField32(info, offsetof(tcp_info, tcpi_sacked))} *
                             infoField32(info, offsetof(tcp_info, tcpi_snd_mss));
    found.push_back(connection);
}

enum class DumpStep { More, Done, Failed };

// One datagram of the answer, each of its messages taken in turn.
DumpStep takeDatagram(Bytes datagram, std::uint32_t sequence,
                      const std::vector<std::optional<ParsedEndpoint>>& wanted,
                      std::vector<TcpConnectionBytes>& found) {
    while (datagram.size() >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, datagram.data(), sizeof header);
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > datagram.size()) {
            return DumpStep::Failed;
        }
        if (header.nlmsg_seq == sequence) {
            if (header.nlmsg_type == NLMSG_DONE) {
                return DumpStep::Done;
            }
            if (header.nlmsg_type == NLMSG_ERROR) {
                return DumpStep::Failed;
            }
            if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY) {
                takeSocket(datagram.subspan(sizeof header, header.nlmsg_len - sizeof header),
                           wanted, found);
            }
        }
        datagram = datagram.subspan(std::min(alignedLength(header.nlmsg_len), datagram.size()));
    }
    return DumpStep::More;
}

// Reads the answer to one dump until its end, within the deadline.
bool readDump(int fd, std::uint32_t sequence, Clock::time_point deadline,
              const std::vector<std::optional<ParsedEndpoint>>& wanted,
              std::vector<TcpConnectionBytes>& found) {
    std::vector<unsigned char> buffer(kReceiveBuffer);
    for (;;) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (wait.count() < 0) {
            return false;
        }
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(wait.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        iovec part{buffer.data(), buffer.size()};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(fd, &header, 0);
        if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (received <= 0 || (header.msg_flags & MSG_TRUNC) != 0) {
            return false;
        }
        switch (takeDatagram(Bytes(buffer.data(), static_cast<std::size_t>(received)), sequence,
                             wanted, found)) {
            case DumpStep::Done:
                return true;
            case DumpStep::Failed:
                return false;
            case DumpStep::More:
                break;
        }
    }
}

}  // namespace

std::optional<std::vector<TcpConnectionBytes>> tcpConnectionsTo(
    const std::vector<RemoteEndpoint>& endpoints) {
    std::vector<std::optional<ParsedEndpoint>> wanted;
    wanted.reserve(endpoints.size());
    for (const RemoteEndpoint& endpoint : endpoints) {
        wanted.push_back(parseEndpoint(endpoint));
    }
    const DiagSocket diag;
    if (diag.get() < 0) {
        return std::nullopt;
    }
    const Clock::time_point deadline = Clock::now() + kAnswerBound;
    std::vector<TcpConnectionBytes> found;
    std::uint32_t sequence = 0;
    for (const std::uint8_t family : {std::uint8_t{AF_INET}, std::uint8_t{AF_INET6}}) {
        ++sequence;
        if (!askForDump(diag.get(), family, sequence) ||
            !readDump(diag.get(), sequence, deadline, wanted, found)) {
            return std::nullopt;
        }
    }
    return found;
}

}  // namespace kestova::platform
