#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "workspace/RunLog.h"

namespace kestova::testing {

// Takes every run log line while it lives, in place of the run log's stream, so that a test can
// read what a run wrote (and a test's output stays quiet); the lines go to the stream again when
// it ends. One at a time.
class RunLogRecorder {
  public:
    RunLogRecorder() {
        sendRunLogToSink([this](std::string_view line) {
            const std::lock_guard<std::mutex> guard(lock_);
            text_.append(line);
        });
    }
    ~RunLogRecorder() { sendRunLogToSink({}); }
    RunLogRecorder(const RunLogRecorder&) = delete;
    RunLogRecorder& operator=(const RunLogRecorder&) = delete;

    // The lines written so far, each ended by its line feed.
    std::string text() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return text_;
    }

  private:
    mutable std::mutex lock_;
    std::string text_;
};

}  // namespace kestova::testing
