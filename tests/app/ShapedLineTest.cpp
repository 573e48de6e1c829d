// The program on a customer's slow line: a client host and a server host, two network namespaces
// of this test joined by a veth pair, each direction shaped with a token bucket; real iperf3
// servers on the server host, the test service on the client host's loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/ProgramUnderTest.h"
#include "platform/ChildProcess.h"
#include "support/WaitUntil.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;

// Runs a command through the shell; true when it ended with status 0.
bool succeeds(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The token bucket's size: 10 ms of the rate, and at least the 1600 bytes tc asks for. A larger
// bucket lets a slow line carry its first second or more at the veth's speed, and a figure that
// counts it would pass for right.
long burstOf(long megabits) {
    return std::max(1600L, megabits * 1000000 / 8 / 100);
}

// The two hosts and the shaped line between them, of this test process alone; the namespaces go
// with the object, with whatever still runs in them.
class TwoHosts {
  public:
    static constexpr const char* kClientAddress = "10.78.0.1";
    static constexpr const char* kServerAddress = "10.78.0.2";

    TwoHosts()
        : client_("kestova-c" + std::to_string(::getpid())),
          server_("kestova-s" + std::to_string(::getpid())) {
        // Names of this process's id: one left behind by an ended process of the same id goes.
        succeeds("ip netns del " + client_ + " 2>/dev/null");
        succeeds("ip netns del " + server_ + " 2>/dev/null");
        clientMade_ = succeeds("ip netns add " + client_ + " 2>/dev/null");
        serverMade_ = clientMade_ && succeeds("ip netns add " + server_ + " 2>/dev/null");
    }
    TwoHosts(const TwoHosts&) = delete;
    TwoHosts& operator=(const TwoHosts&) = delete;
    ~TwoHosts() {
        if (serverMade_) {
            remove(server_);
        }
        if (clientMade_) {
            remove(client_);
        }
    }

    bool made() const { return clientMade_ && serverMade_; }
    const std::string& client() const { return client_; }
    const std::string& server() const { return server_; }

    // Joins them and shapes what each sends: the download leaves the server, the upload the
    // client. True when every step took.
    bool joinWithLine(long downMegabits, long upMegabits) const {
        const std::string clientEnd = "kc" + std::to_string(::getpid());
        const std::string serverEnd = "ks" + std::to_string(::getpid());
        const auto shape = [](const std::string& host, const std::string& device, long megabits) {
            return "ip netns exec " + host + " tc qdisc replace dev " + device + " root tbf rate " +
                   std::to_string(megabits) + "mbit burst " + std::to_string(burstOf(megabits)) +
                   " latency 50ms";
        };
        return succeeds("ip link add " + clientEnd + " netns " + client_ + " type veth peer name " +
                        serverEnd + " netns " + server_) &&
               succeeds("ip -n " + client_ + " addr add " + kClientAddress + "/24 dev " +
                        clientEnd) &&
               succeeds("ip -n " + server_ + " addr add " + kServerAddress + "/24 dev " +
                        serverEnd) &&
               succeeds("ip -n " + client_ + " link set lo up") &&
               succeeds("ip -n " + server_ + " link set lo up") &&
               succeeds("ip -n " + client_ + " link set " + clientEnd + " up") &&
               succeeds("ip -n " + server_ + " link set " + serverEnd + " up") &&
               succeeds(shape(server_, serverEnd, downMegabits)) &&
               succeeds(shape(client_, clientEnd, upMegabits));
    }

    // True when something in the host listens on the TCP port.
    static bool listens(const std::string& host, int port) {
        const std::optional<std::string> sockets = platform::ChildProcess::captureOutput(
            {"ip", "netns", "exec", host, "ss", "-Hltn", "sport = :" + std::to_string(port)}, 5s);
        return sockets && !sockets->empty();
    }

  private:
    static void remove(const std::string& host) {
        succeeds("ip netns pids " + host + " | xargs -r kill -9");
        succeeds("ip netns del " + host);
    }

    std::string client_;
    std::string server_;
    bool clientMade_ = false;
    bool serverMade_ = false;
};

// A program started in a host, ended when the object ends.
class ProcessInHost {
  public:
    ProcessInHost(const std::string& host, const std::vector<std::string>& command)
        : process_(platform::ChildProcess::startProgram(inHost(host, command))) {}
    ProcessInHost(const ProcessInHost&) = delete;
    ProcessInHost& operator=(const ProcessInHost&) = delete;
    ~ProcessInHost() {
        if (process_) {
            ::kill(process_->pid(), SIGTERM);
            if (!process_->waitForExit(5s)) {
                ::kill(process_->pid(), SIGKILL);
                process_->waitForExit(5s);
            }
        }
    }

  private:
    static std::vector<std::string> inHost(const std::string& host,
                                           const std::vector<std::string>& command) {
        std::vector<std::string> inHost = {"ip", "netns", "exec", host};
        inHost.insert(inHost.end(), command.begin(), command.end());
        return inHost;
    }

    std::optional<platform::ChildProcess> process_;
};

using ShapedLine = testing::ProgramUnderTest;

// A 20/1 line, as a DSL customer has: both stages complete, and neither figure is above its line
// (a figure above it counted what the line never carried) nor below half of it.
TEST_F(ShapedLine, AnAsymmetricDslLineCompletesBelowItsRatesAndAboveHalfOfThem) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making network namespaces needs root";
    }
    TwoHosts hosts;
    if (!hosts.made()) {
        GTEST_SKIP() << "ip netns add failed: no network namespaces here";
    }
    ASSERT_TRUE(hosts.joinWithLine(20, 1)) << "the veth pair or its token buckets";

    const std::vector<int> ports = {5201, 5202};
    std::vector<std::unique_ptr<ProcessInHost>> servers;
    std::string serverList;
    for (const int port : ports) {
        servers.push_back(std::make_unique<ProcessInHost>(
            hosts.server(), std::vector<std::string>{"iperf3", "-s", "-B", TwoHosts::kServerAddress,
                                                     "-p", std::to_string(port)}));
        serverList += (serverList.empty() ? "" : ",") + std::string(TwoHosts::kServerAddress) +
                      ":" + std::to_string(port);
    }
    ProcessInHost service(
        hosts.client(),
        {KESTOVA_TEST_SERVICE_BINARY, "--listen", "127.0.0.1", "--port", "8080", "--servers",
         serverList, "--latest-version", fileBytes(workspace::kLocalVersion)});
    for (const int port : ports) {
        ASSERT_TRUE(test::waitUntil([&] { return TwoHosts::listens(hosts.server(), port); }))
            << "iperf3 -s on port " << port;
    }
    ASSERT_TRUE(test::waitUntil([&] { return TwoHosts::listens(hosts.client(), 8080); }))
        << "the test service";

    // Bounded, so that a program that never ends fails the test (status 124) and does not hang it.
    const std::string command = "timeout 180 ip netns exec " + hosts.client() + " " +
                                (folder() / "kestova-speedtest").string() +
                                " --no-window --short-pauses --service 127.0.0.1:8080 > " +
                                (folder() / "runlog.txt").string() + " 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << fileBytes("runlog.txt");
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");

    // Each figure on its own, so that a failed stage does not hide the other stage's figure.
    const std::string final = fileBytes(workspace::kFinal);
    const auto expectWithin = [&final](const std::string& name, double low, double line) {
        std::smatch figure;
        if (!std::regex_search(final, figure, std::regex(name + R"(=([0-9.]+) ?Mbps)"))) {
            ADD_FAILURE() << "no " << name << " figure in final.txt: " << final;
            return;
        }
        EXPECT_LE(std::stod(figure[1]), line) << name << " above the line: " << final;
        EXPECT_GE(std::stod(figure[1]), low) << name << " below half the line: " << final;
    };
    expectWithin("downloadResult", 10.0, 20.0);
    expectWithin("uploadResult", 0.5, 1.0);

    // The live totals count what arrived, so no second shows more than the line carries (plus
    // what a second's measuring edges may add); counted where the clients write, the upload's
    // first seconds showed the socket buffers filling, many times the line.
    for (const auto& [path, line] :
         {std::pair{workspace::kDownloadLive, 20.0}, std::pair{workspace::kUploadLive, 1.0}}) {
        const std::string live = fileBytes(path);
        std::istringstream seconds(live);
        std::string end;
        double mbps = 0;
        int count = 0;
        while (seconds >> end >> mbps) {
            ++count;
            EXPECT_LE(mbps, line * 1.25) << path << " at " << end << ":\n" << live;
        }
        EXPECT_GE(count, 5) << path << ":\n" << live;
    }
}

}  // namespace
}  // namespace kestova
