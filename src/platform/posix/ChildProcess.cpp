#include "platform/ChildProcess.h"
#include "platform/LookUntil.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

// What the child starts with: every signal at its default action and none blocked (this process
// ignores SIGPIPE, which iperf3 and the shell must not inherit), and for a script a process group
// of its own, so that it can be ended as a whole.
constexpr int kNoGroup = -1;
constexpr int kOwnGroup = 0;

class SpawnAttributes {
  public:
    // The group: kNoGroup (this program's), kOwnGroup (a new one) or an existing group's id.
    explicit SpawnAttributes(int group) {
        ok_ = ::posix_spawnattr_init(&attributes_) == 0;
        if (!ok_) {
            return;
        }
        sigset_t defaults;
        ::sigfillset(&defaults);
        ::sigdelset(&defaults, SIGKILL);
        ::sigdelset(&defaults, SIGSTOP);
        sigset_t noneBlocked;
        ::sigemptyset(&noneBlocked);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
        if (group != kNoGroup) {
            flags |= POSIX_SPAWN_SETPGROUP;
            ok_ = ::posix_spawnattr_setpgroup(&attributes_, group) == 0;
        }
        ok_ = ok_ && ::posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
              ::posix_spawnattr_setsigmask(&attributes_, &noneBlocked) == 0 &&
              ::posix_spawnattr_setflags(&attributes_, flags) == 0;
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }

    const posix_spawnattr_t* get() const { return ok_ ? &attributes_ : nullptr; }

  private:
    posix_spawnattr_t attributes_;
    bool ok_ = false;
};

// The descriptor a script's keeper reads its lifeline from.
constexpr int kLifelineFd = 3;

// Each script's group holds a keeper beside the script: a shell that reads the lifeline, a pipe
// whose writing end only this program holds. When this program ends in any way (SIGKILL too), the
// pipe reports its end and the keeper ends the group: TERM, then KILL a second later for what
// ignored it. It is started after the script, so that it does not delay it, and ended when the
// script's shell has been reaped.
constexpr const char* kKeeper =
    "read -r _ <&3; trap '' TERM; kill -s TERM 0; sleep 1; kill -s KILL 0";

std::optional<int> spawnQuietly(const char* program, std::vector<std::string> arguments,
                                bool searchPath, int outputFd = -1, int group = kNoGroup,
                                int lifelineFd = -1) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const SpawnAttributes attributes(group);
    if (attributes.get() == nullptr) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        return std::nullopt;
    }
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (stream == STDOUT_FILENO && outputFd >= 0) {
            ::posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
            continue;
        }
        ::posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                           stream == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    if (lifelineFd >= 0) {
        ::posix_spawn_file_actions_adddup2(&actions, lifelineFd, kLifelineFd);
    }
    pid_t pid = -1;
    const int failed =
        searchPath ? ::posix_spawnp(&pid, program, &actions, attributes.get(), argv.data(), environ)
                   : ::posix_spawn(&pid, program, &actions, attributes.get(), argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return std::nullopt;
    }
    return pid;
}

// A descriptor that becomes readable when the process ends, where the kernel offers one.
int openPidDescriptor(int pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    static_cast<void>(pid);
    return -1;
}

bool reapProcessIfEnded(int pid) {
    int status = 0;
    pid_t result = 0;
    do {
        result = ::waitpid(pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    return result == pid || (result < 0 && errno == ECHILD);
}

// Blocks until the child has ended, without reaping it.
void waitUntilEnded(int pid) {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
}

// The process group and the state letter of a process, from /proc; nothing when it is gone.
std::optional<std::pair<int, char>> groupAndState(const std::filesystem::path& processFolder) {
    const int fd = ::open((processFolder / "stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char buffer[512];
    const ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (got <= 0) {
        return std::nullopt;
    }
    buffer[got] = '\0';
    // "pid (name) state ppid pgrp ...": the name may hold anything, so read from its last ')'.
    const char* afterName = std::strrchr(buffer, ')');
    char state = 0;
    int parent = 0;
    int group = 0;
    if (afterName == nullptr ||
        std::sscanf(afterName + 1, " %c %d %d", &state, &parent, &group) != 3) {
        return std::nullopt;
    }
    return std::make_pair(group, state);
}

// True while a process of the group has not ended. A process that has ended but waits to be
// reaped by a parent that never does (an orphan under an init that does not reap) does not count.
bool groupHasLiveProcess(int group) {
    if (::kill(-group, 0) != 0 && errno == ESRCH) {
        return false;
    }
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error)) {
        const std::optional<std::pair<int, char>> process = groupAndState(entry->path());
        if (process && process->first == group && process->second != 'Z' &&
            process->second != 'X') {
            return true;
        }
    }
    return false;
}

// The scripts whose process group may still hold a process. A script's group has the script's
// process id; it stays listed until its leader has been reaped and no process is left in it.
// Contract: every member takes the lock. A script's leader is reaped only under the lock, so a
// group id that is listed is never one the system has given to another process: signals sent to
// it under the lock reach that script's processes only.
class RunningScripts {
  public:
    // Starts a script and its keeper and lists them in one step, so that no script runs unlisted;
    // nothing once the program has begun to end. The script's group exists until its leader has
    // been reaped, which happens only under the lock: the keeper can join it.
    std::optional<int> start(const std::string& scriptPath) {
        const std::lock_guard<std::mutex> guard(lock_);
        if (closed_ || !openLifeline()) {
            return std::nullopt;
        }
        const std::optional<int> pid =
            spawnQuietly("/bin/sh", {"sh", scriptPath}, false, -1, kOwnGroup);
        if (pid) {
            const std::optional<int> keeper =
                spawnQuietly("/bin/sh", {"sh", "-c", kKeeper}, false, -1, *pid, lifeline_[0]);
            scripts_.push_back({*pid, keeper.value_or(-1)});
        }
        return pid;
    }

    // From now on no script starts.
    void close() {
        const std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
    }

    // Reaps the script's leader when it has ended; true when it has been reaped (here or before).
    bool reapIfEnded(int pid) {
        const std::lock_guard<std::mutex> guard(lock_);
        const bool reaped = reapProcessIfEnded(pid);
        if (reaped) {
            for (Script& script : scripts_) {
                if (script.group == pid) {
                    script.leaderReaped = true;
                }
            }
            forgetEndedGroups();
        }
        return reaped;
    }

    // The lock is held throughout, so that the scripts' owners learn of their end only once all
    // of them have ended: nothing that follows a script's end runs while its siblings still do.
    std::size_t endAll(std::chrono::milliseconds grace) {
        const std::lock_guard<std::mutex> guard(lock_);
        forgetEndedGroups();
        std::size_t ended = 0;
        for (Script& script : scripts_) {
            if (!script.ending) {
                script.ending = true;
                ++ended;
            }
            // A stopped process acts on TERM only once it runs again.
            ::kill(-script.group, SIGTERM);
            ::kill(-script.group, SIGCONT);
        }
        if (!allEndedWithin(grace)) {
            for (const Script& script : scripts_) {
                ::kill(-script.group, SIGKILL);
            }
            allEndedWithin(grace);
        }
        return ended;
    }

    // The lock is taken only for each look, so that the scripts' owners can reap them meanwhile.
    bool noneRunsWithin(std::chrono::milliseconds bound) {
        return lookUntil(bound, std::chrono::milliseconds(20), [this] {
            const std::lock_guard<std::mutex> guard(lock_);
            return noneLeft();
        });
    }

  private:
    // Under the lock. Both ends are closed on exec, so that no child holds the writing end; the
    // reading end is given to each keeper as descriptor 3, above which it is kept so that the
    // keeper's copy is a duplicate of its own.
    bool openLifeline() {
        if (lifeline_[1] >= 0) {
            return true;
        }
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return false;
        }
        const int reading = ::fcntl(ends[0], F_DUPFD_CLOEXEC, kLifelineFd + 1);
        ::close(ends[0]);
        if (reading < 0) {
            ::close(ends[1]);
            return false;
        }
        lifeline_[0] = reading;
        lifeline_[1] = ends[1];
        return true;
    }

    struct Script {
        int group;
        int keeper = -1;  // until it has been ended and reaped
        bool leaderReaped = false;
        bool ending = false;
    };

    // Under the lock: reaps the leaders that have ended and forgets the groups that have, until
    // none is left or the bound has passed.
    bool allEndedWithin(std::chrono::milliseconds bound) {
        return lookUntil(bound, std::chrono::milliseconds(5), [this] { return noneLeft(); });
    }

    // Under the lock: reaps the leaders that have ended and forgets the groups that have; true
    // when none is left.
    bool noneLeft() {
        for (Script& script : scripts_) {
            script.leaderReaped = script.leaderReaped || reapProcessIfEnded(script.group);
        }
        forgetEndedGroups();
        return scripts_.empty();
    }

    // Under the lock. Once the script's shell has ended, its keeper has nothing left to keep (and
    // once the group was ended, the keeper went with it): it ends and is reaped.
    void forgetEndedGroups() {
        for (Script& script : scripts_) {
            if (script.leaderReaped && script.keeper > 0) {
                ::kill(script.keeper, SIGKILL);
                while (::waitpid(script.keeper, nullptr, 0) < 0 && errno == EINTR) {
                }
                script.keeper = -1;
            }
        }
        std::erase_if(scripts_, [](const Script& script) {
            return script.leaderReaped && !groupHasLiveProcess(script.group);
        });
    }

    std::mutex lock_;
    std::vector<Script> scripts_;
    bool closed_ = false;
    int lifeline_[2] = {-1, -1};
};

// Never destroyed: reaper threads may still use it while the program ends.
RunningScripts& runningScripts() {
    static auto* scripts = new RunningScripts;
    return *scripts;
}

bool reapChildIfEnded(int pid, bool script) {
    return script ? runningScripts().reapIfEnded(pid) : reapProcessIfEnded(pid);
}

}  // namespace

ChildProcess::ChildProcess(int pid, bool script)
    : pid_(pid), pidfd_(openPidDescriptor(pid)), script_(script) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      reaped_(std::exchange(other.reaped_, true)),
      script_(other.script_) {}

std::optional<ChildProcess> ChildProcess::startShellScript(const std::string& scriptPath) {
    if (::access(scriptPath.c_str(), R_OK) != 0) {
        return std::nullopt;
    }
    const std::optional<int> pid = runningScripts().start(scriptPath);
    if (!pid) {
        return std::nullopt;
    }
    return ChildProcess(*pid, true);
}

std::optional<ChildProcess> ChildProcess::startProgram(const std::vector<std::string>& command) {
    if (command.empty()) {
        return std::nullopt;
    }
    const std::optional<int> pid = spawnQuietly(command.front().c_str(), command, true);
    if (!pid) {
        return std::nullopt;
    }
    return ChildProcess(*pid, false);
}

std::optional<std::string> ChildProcess::captureOutput(const std::vector<std::string>& command,
                                                       std::chrono::milliseconds timeout,
                                                       std::size_t maxBytes) {
    if (command.empty()) {
        return std::nullopt;
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const std::optional<int> pid =
        spawnQuietly(command.front().c_str(), command, true, pipeEnds[1]);
    ::close(pipeEnds[1]);
    if (!pid) {
        ::close(pipeEnds[0]);
        return std::nullopt;
    }
    ChildProcess child(*pid, false);
    const Clock::time_point deadline = Clock::now() + timeout;
    std::string output;
    bool finished = false;
    while (!finished) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{pipeEnds[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (got > 0) {
            output.append(buffer, std::min(static_cast<std::size_t>(got),
                                           maxBytes - std::min(maxBytes, output.size())));
        } else if (got == 0 || errno != EINTR) {
            finished = true;
        }
    }
    ::close(pipeEnds[0]);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!finished || !child.waitForExit(std::max(left, std::chrono::milliseconds(0)))) {
        return std::nullopt;
    }
    return output;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (reaped_) {
        return true;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        if (reapChildIfEnded(pid_, script_)) {
            reaped_ = true;
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (pidfd_ >= 0) {
            pollfd entry{pidfd_, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(left.count()));
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
        }
    }
}

ChildProcess::~ChildProcess() {
    if (pidfd_ >= 0) {
        ::close(pidfd_);
    }
    if (pid_ > 0 && !reaped_) {
        // The child runs on; only its exit status is collected, whenever it comes. Without a
        // thread to spare, the zombie stays until the program ends: better than stopping it.
        try {
            std::thread([pid = pid_, script = script_] {
                waitUntilEnded(pid);
                reapChildIfEnded(pid, script);
            }).detach();
        } catch (const std::system_error&) {
        }
    }
}

std::size_t endRunningScripts(std::chrono::milliseconds grace) {
    return runningScripts().endAll(grace);
}

std::size_t endRunningScriptsForGood(std::chrono::milliseconds grace) {
    runningScripts().close();
    return runningScripts().endAll(grace);
}

bool waitForRunningScripts(std::chrono::milliseconds bound) {
    return runningScripts().noneRunsWithin(bound);
}

}  // namespace kestova::platform
