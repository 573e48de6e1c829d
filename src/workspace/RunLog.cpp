#include "workspace/RunLog.h"

#include <array>
#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>

#include "platform/LocalTime.h"

namespace kestova {

namespace {

// Never destroyed: a stage thread may still log while the program ends.
std::mutex& outputLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

}  // namespace

RunLogLine::~RunLogLine() {
    text_ << '\n';
    const std::string line = std::move(text_).str();
    const std::lock_guard<std::mutex> guard(outputLock());
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cout.flush();
    // A broken standard output must not silence later lines once it works again.
    std::cout.clear();
}

std::string currentTimestamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    const std::tm local = platform::toLocalTime(now);
    std::array<char, 32> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text.data(), length);
}

}  // namespace kestova
