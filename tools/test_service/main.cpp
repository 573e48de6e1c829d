// kestova-test-service: the provider's test service, on a loopback port of this machine.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "platform/TcpSocket.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "tools/test_service/TestServiceLoop.h"

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void requestStop(int /*signal*/) {
    stopRequested.store(true);
}

constexpr std::string_view kUsage =
    "usage: kestova-test-service [--listen ADDRESS] [--port N] [--servers ADDR:PORT,...]\n"
    "                            [--latest-version TEXT] [--report-log FILE]\n"
    "                            [--tls-cert FILE --tls-key FILE]\n"
    "  --listen ADDRESS  the IPv4 or IPv6 address to listen on (default 127.0.0.1; ::1 for\n"
    "                    IPv6 loopback)\n";

struct Options {
    kestova::tools::TestServiceConfig config;
    std::string address = "127.0.0.1";
    unsigned port = 0;
    std::string tlsCertificate;
    std::string tlsKey;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (name == "--port") {
            char* end = nullptr;
            const unsigned long port = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port > 65535) {
                return std::nullopt;
            }
            options.port = static_cast<unsigned>(port);
        } else if (name == "--listen") {
            options.address = value;
        } else if (name == "--servers") {
            auto servers = kestova::tools::parseServerList(value);
            if (!servers) {
                return std::nullopt;
            }
            options.config.servers = std::move(*servers);
        } else if (name == "--latest-version") {
            options.config.latestVersion = value;
        } else if (name == "--tls-cert") {
            options.tlsCertificate = value;
        } else if (name == "--tls-key") {
            options.tlsKey = value;
        } else if (name == "--report-log") {
            options.config.reportLog = value;
        } else {
            return std::nullopt;
        }
    }
    if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
        return std::nullopt;  // the two come together
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }
    std::optional<kestova::platform::TlsServerIdentity> tls;
    if (!options->tlsCertificate.empty()) {
        std::string failure;
        tls = kestova::platform::TlsServerIdentity::load(options->tlsCertificate, options->tlsKey,
                                                         failure);
        if (!tls) {
            std::cerr << "kestova-test-service: " << failure << "\n";
            return 1;
        }
    }
    std::optional<kestova::platform::TcpListener> listener =
        kestova::platform::TcpListener::listenOn(options->address,
                                                 static_cast<std::uint16_t>(options->port));
    if (!listener) {
        std::cerr << "kestova-test-service: cannot listen on " << options->address << ":"
                  << options->port << "\n";
        return 1;
    }
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    const bool ipv6 = options->address.find(':') != std::string::npos;
    std::cout << "kestova-test-service listening on " << (ipv6 ? "[" : "") << options->address
              << (ipv6 ? "]:" : ":") << listener->port() << std::endl;
    kestova::tools::serveUntilStopped(*listener, options->config, stopRequested,
                                      tls ? &*tls : nullptr);
    return 0;
}
