#include "workspace/RunLog.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>
#include <utility>

#include "workspace/InPlaceLine.h"
#include "workspace/Text.h"
#include "workspace/TextEscape.h"

namespace kestova {

namespace {

std::atomic<RunLogStream> runLogStream{RunLogStream::StandardOutput};

// The sink, when one is set; its lock also keeps the lines it receives from mixing.
struct SinkSlot {
    std::mutex lock;
    RunLogSink sink;
};

SinkSlot& sinkSlot() {
    static SinkSlot slot;
    return slot;
}

// True when a sink took the line.
bool sentToSink(std::string_view line) {
    SinkSlot& slot = sinkSlot();
    const std::lock_guard<std::mutex> guard(slot.lock);
    if (!slot.sink) {
        return false;
    }
    slot.sink(line);
    return true;
}

}  // namespace

void sendRunLogToSink(RunLogSink sink) {
    SinkSlot& slot = sinkSlot();
    const std::lock_guard<std::mutex> guard(slot.lock);
    slot.sink = std::move(sink);
}

void sendRunLogTo(RunLogStream stream) {
    runLogStream.store(stream);
}

RunLogLine::~RunLogLine() {
    // Whatever a line carries (a service's or a server's text, an error's message), no control
    // character of it reaches the terminal; a line feed inside stays, as in a merged output.
    std::string line = withControlCharactersEscaped(std::move(text_).str(), LineFeeds::Kept);
    line += '\n';
    if (sentToSink(line)) {
        return;
    }
    writeAroundInPlaceLine(
        runLogStream.load() == RunLogStream::StandardError ? std::cerr : std::cout, line);
}

std::string currentTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    return localTimestamp(now);
}

}  // namespace kestova
