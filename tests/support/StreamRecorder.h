#pragma once

#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

namespace kestova::testing {

// Takes what is written to a standard stream (std::cout, std::cerr) while it lives and gives the
// stream its own buffer back when it ends. For tests of what reaches the streams themselves; set it
// up before and end it after any thread that writes to the stream.
class StreamRecorder {
  public:
    explicit StreamRecorder(std::ostream& stream)
        : stream_(stream), previous_(stream.rdbuf(buffer_.rdbuf())) {}
    ~StreamRecorder() { stream_.rdbuf(previous_); }
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    std::string text() const { return buffer_.str(); }

  private:
    std::ostream& stream_;
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

}  // namespace kestova::testing
