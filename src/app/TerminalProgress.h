#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kestova {

// The progress line for what the workspace says: the stage that runs, the second of its latest
// live line and that line's total, as "Download: second 4, 812.34 Mbit/s"; "Download: starting"
// before its first line; empty when no stage runs. A stage runs while its status is "1"; a live
// line is "<end of interval in seconds> <total Mbit/s>", and lines of another shape are passed
// over.
std::string progressLine(std::string_view downloadStatus, std::string_view uploadStatus,
                         const std::vector<std::string>& downloadLive,
                         const std::vector<std::string>& uploadLive);

// Shows the progress line in place on standard error, looking at the workspace files every half
// second, for as long as the object lives.
// Contract: one thread of its own reads the files and writes the line; the destructor (on the
// thread that made the object) stops it within one look, waits for it and takes the line down.
// The run log's lines, from any thread, are written around the line, never into it.
class TerminalProgress {
  public:
    TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    ~TerminalProgress();

  private:
    void showUntilStopped();

    std::mutex lock_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace kestova
