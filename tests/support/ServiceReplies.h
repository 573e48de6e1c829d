#pragma once

#include <string>

#include "service/ServiceEndpoint.h"

namespace kestova::testing {

// A 200 reply carrying the body with its exact Content-Length.
inline std::string okReply(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The loopback endpoint of a stand-in, with short waits.
inline ServiceEndpoint loopbackEndpoint(std::uint16_t port) {
    ServiceEndpoint endpoint = *parseServiceEndpoint("127.0.0.1:" + std::to_string(port));
    endpoint.connectTimeout = std::chrono::seconds(2);
    endpoint.exchangeTimeout = std::chrono::seconds(2);
    return endpoint;
}

// An endpoint whose name never resolves.
inline ServiceEndpoint unresolvableEndpoint() {
    ServiceEndpoint endpoint;
    endpoint.host = "kestova-service.invalid";
    endpoint.hostHeader = endpoint.host;
    return endpoint;
}

}  // namespace kestova::testing
