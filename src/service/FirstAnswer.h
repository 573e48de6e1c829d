#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "platform/TcpSocket.h"

namespace kestova {

// A connection to the first of a host's addresses that answered.
struct AnsweredConnection {
    platform::TcpSocket socket;
    platform::IpEndpoint peer;
    std::chrono::steady_clock::duration took{};  // the answering address's own connect
};

struct FirstAnswer {
    std::optional<AnsweredConnection> connection;
    // True when not one socket could be made (no connect was tried).
    bool noSocket = false;
};

// Connects to the addresses one after another, in their order, within the time-out as a whole.
// Each gets an equal share of the time left (the last one all of it), so that an address that
// never answers leaves the others their turn; one that refuses passes its share on at once.
FirstAnswer connectToFirstAnswering(const std::vector<platform::IpEndpoint>& addresses,
                                    std::chrono::milliseconds timeout);

}  // namespace kestova
