#include "workspace/RunLog.h"

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>

#include "platform/LocalTime.h"
#include "workspace/InPlaceLine.h"
#include "workspace/TextEscape.h"

namespace kestova {

namespace {

std::atomic<RunLogStream> runLogStream{RunLogStream::StandardOutput};

}  // namespace

void sendRunLogTo(RunLogStream stream) {
    runLogStream.store(stream);
}

RunLogLine::~RunLogLine() {
    // Whatever a line carries (a service's or a server's text, an error's message), no control
    // character of it reaches the terminal; a line feed inside stays, as in a merged output.
    std::string line = withControlCharactersEscaped(std::move(text_).str(), LineFeeds::Kept);
    line += '\n';
    writeAroundInPlaceLine(
        runLogStream.load() == RunLogStream::StandardError ? std::cerr : std::cout, line);
}

std::string currentTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm local = platform::toLocalTime(now);
    std::array<char, 32> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text.data(), length);
}

}  // namespace kestova
