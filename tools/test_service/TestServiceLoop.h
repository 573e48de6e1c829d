#pragma once

#include <atomic>

#include "platform/TcpSocket.h"
#include "platform/TlsChannel.h"
#include "tools/test_service/TestServiceAnswers.h"

namespace kestova::tools {

// Serves one connection: reads the request head (bounded in size), answers, closes. The whole
// connection lasts at most the configured bound: a client that trickles its request or never
// sends one is dropped then. It also ends as soon as stop becomes true.
void serveConnection(platform::TcpSocket& connection, const TestServiceConfig& config,
                     const std::atomic<bool>& stop);

// Accepts and serves connections one after another until stop becomes true; it looks at stop at
// least ten times a second, also while it serves a connection, so that it ends within a fifth of
// a second (a TLS handshake, with an identity, within the connection's bound). Contract: stop may
// be set from any thread or a signal handler.
void serveUntilStopped(platform::TcpListener& listener, const TestServiceConfig& config,
                       const std::atomic<bool>& stop,
                       const platform::TlsServerIdentity* tls = nullptr);

}  // namespace kestova::tools
