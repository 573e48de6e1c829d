#include "workspace/RunLog.h"

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>

#include "platform/LocalTime.h"
#include "workspace/InPlaceLine.h"

namespace kestova {

namespace {

std::atomic<RunLogStream> runLogStream{RunLogStream::StandardOutput};

}  // namespace

void sendRunLogTo(RunLogStream stream) {
    runLogStream.store(stream);
}

RunLogLine::~RunLogLine() {
    text_ << '\n';
    const std::string line = std::move(text_).str();
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
