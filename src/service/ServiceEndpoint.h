#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestova {

// The built-in test service, set where the program is built (KESTOVA_SERVICE, or the older
// KESTOVA_SERVICE_HOST), in any form --service takes. By default it sits under a reserved name,
// so that a build that was never pointed at the provider's service contacts nobody.
extern const char* const builtInService;

// Where the exchanges go and how long each of their steps may last.
struct ServiceEndpoint {
    // The built-in service; a built-in text that does not read stays the host, on port 80.
    ServiceEndpoint();

    bool https = false;
    // A name, an IPv4 address or an IPv6 address (without its brackets).
    std::string host;
    std::uint16_t port = 80;
    // The Host header: the text as the user gave it without its scheme ("127.0.0.1:8080",
    // "[::1]:8080"), else the host name.
    std::string hostHeader;
    // Over https: the PEM file whose authorities are trusted instead of the system's store.
    std::optional<std::string> authorityFile;
    // Looking the name up, then connecting, each within its bound; then (the TLS handshake,) the
    // request and the whole reply within the exchange's bound, however the service paces its
    // bytes.
    std::chrono::milliseconds resolveTimeout{10000};
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds exchangeTimeout{10000};
};

// Reads "[https://|http://]HOST[:PORT]": HOST a name, an IPv4 address or "[IPv6]"; the port 1 to
// 65535, else 80 for http (and the bare form) and 443 for https. Nothing when malformed.
std::optional<ServiceEndpoint> parseServiceEndpoint(std::string_view text);

// The endpoint whole, as "http://HOST:PORT" or "https://[IPv6]:PORT".
std::string serviceText(const ServiceEndpoint& endpoint);

}  // namespace kestova
