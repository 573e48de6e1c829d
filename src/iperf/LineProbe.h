#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "iperf/OurIperfServer.h"

namespace kestova::iperf {

// Runs the probe of one direction against the server (runDownloadProbe.sh or runUploadProbe.sh,
// written anew) and waits for it at most the bound; a probe still running then is ended with the
// other scripts. The receiver's rate of the probe in Mbit/s, or nothing when it told none. Writes
// a start and an end line to the run log.
std::optional<double> probeLine(const OurIperfServer& server, const std::string& parameters,
                                bool download, int seconds, std::chrono::milliseconds wait);

}  // namespace kestova::iperf
