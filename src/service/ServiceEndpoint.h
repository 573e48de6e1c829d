#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestova {

// The built-in test service host, set where the program is built (KESTOVA_SERVICE_HOST). By
// default it sits under a reserved name, so that a build that was never pointed at the
// provider's service contacts nobody.
extern const char* const serviceHost;

// Where the exchanges go and how long each of their steps may last.
struct ServiceEndpoint {
    std::string host = serviceHost;
    std::uint16_t port = 80;
    // The Host header: the text as the user gave it ("127.0.0.1:8080"), else the host name.
    std::string hostHeader = serviceHost;
    // Looking the name up, then connecting, each within its bound; then the request and the
    // whole reply within the exchange's bound, however the service paces its bytes.
    std::chrono::milliseconds resolveTimeout{10000};
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds exchangeTimeout{10000};
};

// Reads "HOST" or "HOST:PORT" (port 1 to 65535, 80 when not given); nothing when malformed.
std::optional<ServiceEndpoint> parseServiceEndpoint(std::string_view text);

}  // namespace kestova
