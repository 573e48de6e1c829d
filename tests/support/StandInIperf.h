#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestData.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova::testing {

// The ports of the three recorded servers.
inline const std::vector<std::string> kRecordedPorts = {"25301", "25302", "25303"};

// Puts a stand-in iperf/iperf3 into the current program folder that prints the recorded outputs
// of the three servers, chosen by port. While iperf/recorded/hold exists it waits.
inline void installStandInIperf() {
    std::filesystem::create_directories("iperf/recorded");
    // A copied program folder's client is a link to the system's iperf3: copying over it would
    // write through the link and, as root, replace the system's own.
    std::filesystem::remove(workspace::kIperfClient);
    std::filesystem::copy_file(testDataPath("iperf3/stand-in-iperf3.sh"), workspace::kIperfClient,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(workspace::kIperfClient, std::filesystem::perms::owner_all);
    for (std::size_t i = 0; i < kRecordedPorts.size(); ++i) {
        for (const std::string direction : {"dn", "up"}) {
            std::filesystem::copy_file(
                testDataPath("iperf3/" + direction + "_speed_" + std::to_string(i) + ".txt"),
                "iperf/recorded/" + direction + "_" + kRecordedPorts[i] + ".txt",
                std::filesystem::copy_options::overwrite_existing);
        }
    }
}

}  // namespace kestova::testing
