#pragma once

#include <atomic>

#include "platform/TcpSocket.h"
#include "tools/test_service/TestServiceAnswers.h"

namespace kestova::tools {

// Serves one connection: reads the request head (bounded in size and time), answers, closes.
void serveConnection(platform::TcpSocket& connection, const TestServiceConfig& config);

// Accepts and serves connections one after another until stop becomes true; it looks at stop at
// least five times a second. Contract: stop may be set from any thread or a signal handler.
void serveUntilStopped(platform::TcpListener& listener, const TestServiceConfig& config,
                       const std::atomic<bool>& stop);

}  // namespace kestova::tools
