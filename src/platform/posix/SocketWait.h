#pragma once

#include <chrono>

namespace kestova::platform {

// Waits for the poll events on the descriptor until the deadline, retrying after signals. True
// when they are ready (or the socket reports an error, which the following call then sees).
bool waitForSocket(int fd, short events, std::chrono::steady_clock::time_point deadline);

}  // namespace kestova::platform
