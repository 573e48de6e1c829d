#pragma once

#include <sstream>
#include <string>

namespace kestova {

// One line of the run log. Fragments are gathered while the line is built and the whole line,
// ended by a line feed, reaches standard output when the line object ends, under one lock, so that
// lines written by several threads at once never mix. A closed or missing standard output loses
// the line and nothing else.
//
//     runLog() << "end run downloadTest... " << currentTimestamp();
class RunLogLine {
  public:
    RunLogLine() = default;
    RunLogLine(const RunLogLine&) = delete;
    RunLogLine& operator=(const RunLogLine&) = delete;
    ~RunLogLine();

    template <typename Fragment>
    RunLogLine& operator<<(const Fragment& fragment) {
        text_ << fragment;
        return *this;
    }

  private:
    std::ostringstream text_;
};

inline RunLogLine runLog() {
    return RunLogLine{};
}

// The local time now as "%Y-%m-%d %H:%M:%S", truncated to whole seconds.
std::string currentTimestamp();

}  // namespace kestova
