// Any assignment reply: the servers kept are plain addresses and ports, at most 64 and each once,
// and the scripts written for them hold nothing else.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "iperf/IperfCommandScripts.h"
#include "iperf/ServerTextCheck.h"
#include "platform/TextFile.h"
#include "service/ServerAssignment.h"

namespace {

// The scripts go to a folder of the fuzzer's own.
void enterScratchFolder() {
    static bool entered = false;
    if (!entered) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestova-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) {
            std::abort();
        }
        std::filesystem::create_directory("speedTest");
        entered = true;
    }
}

bool plain(std::string_view text) {
    for (const char c : text) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    enterScratchFolder();
    kestova::ServerAssignmentState state;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const kestova::AssignmentReply reply = state.takeReply(body);
    const auto servers = state.iperfServerList();
    if (servers.size() > kestova::kMaxServersInTest) {
        std::abort();
    }
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const kestova::OurIperfServer& server = servers[i];
        if (!kestova::isAcceptableServerAddress(server.ipAddress) ||
            !kestova::isAcceptableServerPort(server.port) || !plain(server.ipAddress) ||
            !plain(server.port)) {
            std::abort();
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (servers[j] == server) {
                std::abort();
            }
        }
    }
    if (!servers.empty()) {
        kestova::writeCommandScripts(servers.front(), 0, "-P 20 -l 1024k");
        const std::string expected = "iperf/iperf3 -c " + servers.front().ipAddress + " -p " +
                                     servers.front().port +
                                     " -f m -P 20 -l 1024k -R -t 10 > speedTest/dn_speed_0.txt\n";
        if (kestova::platform::readWholeFile("runDownloadIperf_0.sh") != expected) {
            std::abort();
        }
    }
    static_cast<void>(reply);
    return 0;
}
