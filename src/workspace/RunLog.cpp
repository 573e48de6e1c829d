#include "workspace/RunLog.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>

#include "workspace/InPlaceLine.h"
#include "workspace/Text.h"
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
    return localTimestamp(now);
}

}  // namespace kestova
