#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestova::platform {

// A child process started with its standard input, output and error on /dev/null.
// Contract: one owner, one thread. A child that has not been waited for to its end when its owner
// lets go of it is never stopped: a detached reaper thread waits for it and reaps it when it ends
// by itself, so that it leaves no zombie behind.
class ChildProcess {
  public:
    // Runs the shell script with /bin/sh; nothing when the script is not there or the process
    // cannot be started.
    static std::optional<ChildProcess> startShellScript(const std::string& scriptPath);
    // Runs a program found on PATH with the arguments, not through a shell.
    static std::optional<ChildProcess> startProgram(const std::vector<std::string>& command);

    // Runs a program found on PATH and returns what it printed on standard output, at most
    // maxBytes; nothing when it could not be started or did not finish within the time-out (it
    // is then left to end by itself).
    static std::optional<std::string> captureOutput(const std::vector<std::string>& command,
                                                    std::chrono::milliseconds timeout,
                                                    std::size_t maxBytes = 65536);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // True when the child ended within the time-out; it is then reaped.
    bool waitForExit(std::chrono::milliseconds timeout);

    int pid() const { return pid_; }

  private:
    explicit ChildProcess(int pid);

    int pid_ = -1;
    int pidfd_ = -1;
    bool reaped_ = false;
};

// Ends every script started by ChildProcess::startShellScript that still runs, with what it
// started: TERM, then KILL after the grace (on Windows at once). Returns how many were ended. Safe
// from any thread.
std::size_t endRunningScripts(std::chrono::milliseconds grace);

}  // namespace kestova::platform
