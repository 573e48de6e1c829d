#pragma once

// The program as a user runs it: a copy of the build's program folder, the program run in it as a
// process of its own, and real iperf3 servers on loopback ports.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <future>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/TcpSocket.h"
#include "support/IperfServer.h"
#include "support/ProgramFolderFixture.h"
#include "support/WaitUntil.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova::testing {

using namespace std::chrono_literals;

class ProgramUnderTest : public ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        std::filesystem::copy(KESTOVA_DIST_DIR, folder(),
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::copy_symlinks |
                                  std::filesystem::copy_options::overwrite_existing);
        // The copy is the user's own whatever the umask of the build was: the program runs no
        // script from a folder others can write.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder())) {
            if (!entry.is_symlink()) {
                std::filesystem::permissions(
                    entry.path(),
                    std::filesystem::perms::group_write | std::filesystem::perms::others_write,
                    std::filesystem::perm_options::remove);
            }
        }
    }

    // A test service that grants these iperf3 servers and offers this folder's own version as the
    // latest, so that no upgrade stands in the way.
    tools::TestServiceConfig grantingServers(const std::vector<const IperfServer*>& servers) const {
        tools::TestServiceConfig config;
        for (const IperfServer* server : servers) {
            config.servers.push_back("127.0.0.1:" + std::to_string(server->port()));
        }
        config.latestVersion = fileBytes(workspace::kLocalVersion);
        return config;
    }

    // Runs the program in the folder without a window; its exit status, with the run log in
    // runlog.txt. Every run ends within five minutes or counts as hung (status 124).
    int runProgram(const std::string& arguments) {
        const std::string command = "timeout 300 " + (folder() / "kestova-speedtest").string() +
                                    " --no-window " + arguments + " > " +
                                    (folder() / "runlog.txt").string() + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The same with standard output in stdout.txt and standard error in stderr.txt.
    int runProgramApart(const std::string& arguments) {
        const std::string command = "timeout 300 " + (folder() / "kestova-speedtest").string() +
                                    " --no-window " + arguments + " > " +
                                    (folder() / "stdout.txt").string() + " 2> " +
                                    (folder() / "stderr.txt").string();
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The same on a terminal of its own (standard input, output and error), with what the
    // terminal received in terminal.txt.
    int runProgramOnATerminal(const std::string& arguments) {
        const std::string program = "timeout 300 " + (folder() / "kestova-speedtest").string() +
                                    " --no-window " + arguments;
        const std::string command = "script -qefc '" + program + "' /dev/null < /dev/null > " +
                                    (folder() / "terminal.txt").string() + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The same, started on a thread of its own.
    std::future<int> startProgram(const std::string& arguments) {
        return std::async(std::launch::async, [this, arguments] { return runProgram(arguments); });
    }

    // The same as a process of its own, for a test that signals it; its process id.
    int spawnProgram(const std::string& arguments) {
        return spawnShell("exec " + (folder() / "kestova-speedtest").string() + " --no-window " +
                          arguments + " > " + (folder() / "runlog.txt").string() + " 2>&1");
    }

    // The shell command as a process of its own; its process id.
    static int spawnShell(const std::string& command) {
        std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                                   const_cast<char*>(command.c_str()), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ), 0);
        return pid;
    }

    // Its exit status once it has ended within the bound (the negated signal when a signal ended
    // it); nothing when it was still running, and it is then killed.
    static std::optional<int> exitStatusOf(int pid, std::chrono::milliseconds bound) {
        int status = 0;
        if (!test::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) != 0; }, bound)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    // Waits up to the bound until the condition holds (the tests' one wait, test::waitUntil).
    static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
        return test::waitUntil(condition, bound);
    }

    // Seconds from the run log line that starts with the first text to the one that starts with
    // the second, by their timestamps (whole seconds); nothing when one is missing.
    std::optional<long> secondsBetween(const std::string& first, const std::string& second) {
        const std::string log = fileBytes("runlog.txt");
        const auto timeOf = [&log](const std::string& start) -> std::optional<std::time_t> {
            const std::size_t at = log.find("\n" + start);
            const std::size_t end = at == std::string::npos ? at : log.find('\n', at + 1);
            if (end == std::string::npos || end - at < 20) {
                return std::nullopt;
            }
            std::tm time{};
            std::istringstream stamp(log.substr(end - 19, 19));
            stamp >> std::get_time(&time, "%Y-%m-%d %H:%M:%S");
            time.tm_isdst = -1;
            return stamp.fail() ? std::nullopt : std::optional<std::time_t>(std::mktime(&time));
        };
        const std::optional<std::time_t> from = timeOf(first);
        const std::optional<std::time_t> to = timeOf(second);
        if (!from || !to) {
            return std::nullopt;
        }
        return static_cast<long>(*to - *from);
    }

    // Waits up to the bound until the file holds the value.
    bool waitForFile(const std::string& path, const std::string& value,
                     std::chrono::milliseconds bound) {
        return test::waitUntil([&] { return fileBytes(path) == value; }, bound);
    }
};

}  // namespace kestova::testing
