#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

std::optional<int> spawnQuietly(const char* program, std::vector<std::string> arguments,
                                bool searchPath, int outputFd = -1) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
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
    pid_t pid = -1;
    const int failed = searchPath
                           ? ::posix_spawnp(&pid, program, &actions, nullptr, argv.data(), environ)
                           : ::posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
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

bool reapIfEnded(int pid) {
    int status = 0;
    pid_t result = 0;
    do {
        result = ::waitpid(pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    return result == pid || (result < 0 && errno == ECHILD);
}

}  // namespace

ChildProcess::ChildProcess(int pid) : pid_(pid), pidfd_(openPidDescriptor(pid)) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      reaped_(std::exchange(other.reaped_, true)) {}

std::optional<ChildProcess> ChildProcess::startShellScript(const std::string& scriptPath) {
    if (::access(scriptPath.c_str(), R_OK) != 0) {
        return std::nullopt;
    }
    const std::optional<int> pid = spawnQuietly("/bin/sh", {"sh", scriptPath}, false);
    if (!pid) {
        return std::nullopt;
    }
    return ChildProcess(*pid);
}

std::optional<ChildProcess> ChildProcess::startProgram(const std::vector<std::string>& command) {
    if (command.empty()) {
        return std::nullopt;
    }
    const std::optional<int> pid = spawnQuietly(command.front().c_str(), command, true);
    if (!pid) {
        return std::nullopt;
    }
    return ChildProcess(*pid);
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
    ChildProcess child(*pid);
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
        if (reapIfEnded(pid_)) {
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
            std::thread([pid = pid_] {
                int status = 0;
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        } catch (const std::system_error&) {
        }
    }
}

}  // namespace kestova::platform
