#pragma once

#include <string>
#include <utility>

namespace kestova {

// One assigned iperf3 server: its address and port texts as the test service sent them.
class OurIperfServer {
  public:
    OurIperfServer() = default;
    OurIperfServer(std::string address, std::string portText)
        : ipAddress(std::move(address)), port(std::move(portText)) {}
    OurIperfServer(const OurIperfServer&) = default;
    OurIperfServer(OurIperfServer&&) = default;
    OurIperfServer& operator=(const OurIperfServer&) = default;
    OurIperfServer& operator=(OurIperfServer&&) = default;
    virtual ~OurIperfServer() = default;

    bool operator==(const OurIperfServer& other) const {
        return ipAddress == other.ipAddress && port == other.port;
    }

    std::string ipAddress;
    std::string port;
};

}  // namespace kestova
