#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "iperf/OurIperfServer.h"
#include "service/ServiceEndpoint.h"

namespace kestova {

// What the server assignment came to (the numbers are those the service's clients have used).
enum class AssignmentResult { Refused = 0, Granted = 1, Unreachable = 2 };

// At most this many servers run in one test: each costs a thread and an iperf3 client of many
// streams, against a host the reply names.
inline constexpr std::size_t kMaxServersInTest = 64;

// What became of a server the reply named.
enum class ServerFate {
    Kept,      // it runs in the test
    Rejected,  // its texts are not a plain address and port
    Repeated,  // the same address and port came earlier in the reply: it runs once
    LeftOut    // the test already has kMaxServersInTest servers
};

// A server as the reply named it, and what became of it.
struct NamedServer {
    OurIperfServer server;
    ServerFate fate = ServerFate::Rejected;
};

struct AssignmentReply {
    std::string resultCode;            // the text after "resultCode=", empty when none came
    std::vector<NamedServer> servers;  // in the order of the reply
};

// The servers of the current test and the last address and port read from a reply.
// Contract: every member may be called from any thread; each call sees and leaves the state whole,
// so a caller that copies the list gets one assignment's servers, never a mix of two.
class ServerAssignmentState {
  public:
    std::vector<OurIperfServer> iperfServerList() const;
    std::string currentIpAddress() const;
    std::string currentPort() const;

    // Reads the items of a reply body and makes its kept servers the list, in one step: in the
    // order of the reply, those with plain texts, each address and port once, the first
    // kMaxServersInTest of them.
    AssignmentReply takeReply(std::string_view body);

  private:
    mutable std::mutex lock_;
    std::vector<OurIperfServer> servers_;
    std::string currentIpAddress_;
    std::string currentPort_;
};

// The process-wide state that requestIperfServer fills and the test stages read.
ServerAssignmentState& serverAssignmentState();

// A copy of the process-wide list, taken in one step.
std::vector<OurIperfServer> iperfServerList();
std::string currentIpAddress();
std::string currentPort();

// Asks the service for the servers of a test, keeps them and writes their command scripts.
// Granted with at least one kept server; unreachable when the service's name did not resolve, it
// could not be connected or no socket could be made; refused for anything else.
// Progress goes to speedTest/http_status.txt, every server the reply named to the run log (those
// not kept with the reason).
AssignmentResult requestIperfServer(const ServiceEndpoint& endpoint,
                                    ServerAssignmentState& state = serverAssignmentState());

}  // namespace kestova
