#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestova::platform {

// A child process started with its standard input, output and error on /dev/null, with every
// signal at its default action and none blocked, whatever this process ignores or blocks.
// Contract: one owner, one thread. A child that has not been waited for to its end when its owner
// lets go of it is not stopped by that: a detached reaper thread waits for it and reaps it when it
// ends, so that it leaves no zombie behind. Only endRunningScripts stops scripts.
class ChildProcess {
  public:
    // Runs the shell script with /bin/sh in a process group of its own; nothing when the script
    // is not there, the process cannot be started or the program has begun to end
    // (endRunningScriptsForGood). On Linux a keeper joins the script's group, which ends the
    // group when this program ends in any way, even by SIGKILL. On Windows cmd.exe runs it in the
    // current folder; a script of that folder whatever the folder's name, one elsewhere unless its
    // path holds a "%" (cmd.exe would read it as a variable).
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
    ChildProcess(int pid, bool script);

    int pid_ = -1;
    int pidfd_ = -1;
    bool reaped_ = false;
    bool script_ = false;
};

// Ends every script started by ChildProcess::startShellScript that still runs, with its whole
// process group: TERM first, then KILL for a group still there after the grace (on Windows, where a
// script has no console to be asked on, its job object's processes are ended at once). Returns how
// many scripts this call ended (one that an earlier call could not end is waited for, not
// counted). Safe from any thread; returns within about twice the grace. The owners of the scripts
// see them end only when it returns, so nothing that waits for one script goes on while others
// still run.
std::size_t endRunningScripts(std::chrono::milliseconds grace = std::chrono::milliseconds(1000));

// The same at the program's end: from the call on no script starts any more. Safe from any
// thread.
std::size_t endRunningScriptsForGood(
    std::chrono::milliseconds grace = std::chrono::milliseconds(1000));

// Waits at most the bound until no script started by ChildProcess::startShellScript runs any
// more (what a script started ends with it); true when none does. Ends nothing. Safe from any
// thread.
bool waitForRunningScripts(std::chrono::milliseconds bound);

}  // namespace kestova::platform
