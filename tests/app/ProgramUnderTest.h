#pragma once

// The program as a user runs it: a copy of the build's program folder, the program run in it as a
// process of its own, and real iperf3 servers on loopback ports.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/TcpSocket.h"
#include "support/ProgramFolderFixture.h"

namespace kestova::testing {

using namespace std::chrono_literals;

inline std::uint16_t freeLoopbackPort() {
    return platform::TcpListener::listenOnLoopback(0)->port();
}

// An iperf3 server on a loopback port, for as long as the object lives.
class IperfServer {
  public:
    IperfServer()
        : port_(freeLoopbackPort()),
          process_(platform::ChildProcess::startProgram(
              {"iperf3", "-s", "-B", "127.0.0.1", "-p", std::to_string(port_)})) {
        for (int i = 0; i < 100 && !accepts(); ++i) {
            std::this_thread::sleep_for(50ms);
        }
    }
    ~IperfServer() {
        if (process_) {
            ::kill(process_->pid(), SIGTERM);
            process_->waitForExit(5s);
        }
    }
    int pid() const { return process_ ? process_->pid() : -1; }
    std::uint16_t port() const { return port_; }

  private:
    bool accepts() const {
        std::optional<platform::TcpSocket> socket = platform::TcpSocket::open();
        return socket && socket->connect({0x7f000001, port_}, 1s) == platform::IoStatus::Ok;
    }

    std::uint16_t port_;
    std::optional<platform::ChildProcess> process_;
};

class ProgramUnderTest : public ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        std::filesystem::copy(KESTOVA_DIST_DIR, folder(),
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::copy_symlinks |
                                  std::filesystem::copy_options::overwrite_existing);
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

    // Waits up to the bound until the file holds the value.
    bool waitForFile(const std::string& path, const std::string& value,
                     std::chrono::milliseconds bound) {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (fileBytes(path) != value && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return fileBytes(path) == value;
    }
};

}  // namespace kestova::testing
