#include "platform/TcpTraffic.h"

namespace kestova::platform {

// Windows collects a connection's byte counts only once an administrator turns the collection on
// for it (SetPerTcpConnectionEStats); the program runs without those rights, so it cannot tell.
std::optional<std::vector<TcpConnectionBytes>> tcpConnectionsTo(
    const std::vector<RemoteEndpoint>& /*endpoints*/) {
    return std::nullopt;
}

}  // namespace kestova::platform
