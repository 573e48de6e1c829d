#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <string_view>

namespace kestova {

// One line of the run log. Fragments are gathered while the line is built and the whole line,
// ended by a line feed, reaches the run log's stream (standard output unless sent elsewhere) when
// the line object ends, under one lock, so that lines written by several threads at once never
// mix. A closed or missing stream loses the line and nothing else.
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

enum class RunLogStream { StandardOutput, StandardError };

// Where the run log's lines go from now on; standard output until this is called. Meant for the
// program's start, before any line is written (for instance to keep standard output for a
// machine-readable result); a line being written meanwhile goes wholly to one of the two.
void sendRunLogTo(RunLogStream stream);

// Receives each whole run log line, its line feed included, in place of the run log's stream, from
// the writing thread, one line at a time; an empty sink sends the lines to the stream again. For
// tests, which read what a run wrote.
using RunLogSink = std::function<void(std::string_view line)>;
void sendRunLogToSink(RunLogSink sink);

// The local time now as "%Y-%m-%d %H:%M:%S", truncated to whole seconds.
std::string currentTimestamp();

}  // namespace kestova
