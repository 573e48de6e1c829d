#include "workspace/InPlaceLine.h"

#include <iostream>
#include <mutex>
#include <string>

namespace kestova {

namespace {

struct LineState {
    std::mutex lock;
    std::string text;  // what stands on the line now; empty when nothing does
};

// Never destroyed: a stage thread may still log while the program ends.
LineState& lineState() {
    static auto* state = new LineState;
    return *state;
}

void eraseLocked(const LineState& state) {
    if (!state.text.empty()) {
        std::cerr << '\r' << std::string(state.text.size(), ' ') << '\r';
    }
}

}  // namespace

void showInPlaceLine(std::string_view text) {
    LineState& state = lineState();
    const std::lock_guard<std::mutex> guard(state.lock);
    if (text == state.text) {
        return;
    }
    const std::size_t leftOver =
        state.text.size() > text.size() ? state.text.size() - text.size() : 0;
    std::cerr << '\r' << text << std::string(leftOver, ' ');
    if (leftOver > 0) {
        std::cerr << '\r' << text;
    }
    std::cerr.flush();
    std::cerr.clear();
    state.text = text;
}

void clearInPlaceLine() {
    LineState& state = lineState();
    const std::lock_guard<std::mutex> guard(state.lock);
    eraseLocked(state);
    std::cerr.flush();
    std::cerr.clear();
    state.text.clear();
}

void writeAroundInPlaceLine(std::ostream& stream, std::string_view text) {
    LineState& state = lineState();
    const std::lock_guard<std::mutex> guard(state.lock);
    eraseLocked(state);
    std::cerr.flush();
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream.flush();
    // A broken stream must not silence later lines once it works again.
    stream.clear();
    if (!state.text.empty()) {
        std::cerr << state.text;
        std::cerr.flush();
        std::cerr.clear();
    }
}

}  // namespace kestova
