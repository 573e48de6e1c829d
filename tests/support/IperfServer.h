#pragma once

// Real iperf3 processes for the tests: a server on a loopback port, and the clients that run
// against it.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ios>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/TcpSocket.h"
#include "support/WaitUntil.h"

namespace kestova::testing {

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
        static_cast<void>(test::waitUntil([this] { return accepts(); }, std::chrono::seconds(5)));
    }
    ~IperfServer() {
        if (process_) {
            ::kill(process_->pid(), SIGCONT);
            ::kill(process_->pid(), SIGTERM);
            process_->waitForExit(std::chrono::seconds(5));
        }
    }
    int pid() const { return process_ ? process_->pid() : -1; }
    std::uint16_t port() const { return port_; }

  private:
    bool accepts() const {
        std::optional<platform::TcpSocket> socket = platform::TcpSocket::open();
        return socket && socket->connect({"127.0.0.1", port_}, std::chrono::seconds(1)) ==
                             platform::IoStatus::Ok;
    }

    std::uint16_t port_;
    std::optional<platform::ChildProcess> process_;
};

// The iperf3 clients now running (not ended) against the port on this machine.
inline std::vector<int> iperfClientsOf(std::uint16_t port) {
    std::vector<int> clients;
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::vector<std::string> words;
        std::string status;
        try {
            std::ifstream cmdline(entry->path() / "cmdline");
            for (std::string word; std::getline(cmdline, word, '\0');) {
                words.push_back(word);
            }
            std::ifstream stat(entry->path() / "stat");
            status.assign(std::istreambuf_iterator<char>(stat), {});
        } catch (const std::ios_base::failure&) {
            continue;  // the process ended while it was read
        }
        const std::size_t afterName = status.rfind(')');
        const bool ended = afterName == std::string::npos || afterName + 2 >= status.size() ||
                           status[afterName + 2] == 'Z';
        bool client = false;
        bool atPort = false;
        for (std::size_t i = 0; i + 1 < words.size(); ++i) {
            client = client || words[i] == "-c";
            atPort = atPort || (words[i] == "-p" && words[i + 1] == std::to_string(port));
        }
        if (!ended && client && atPort && !words.empty() &&
            words.front().find("iperf3") != std::string::npos) {
            clients.push_back(std::stoi(name));
        }
    }
    return clients;
}

}  // namespace kestova::testing
