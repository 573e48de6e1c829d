#pragma once

#include <cstddef>
#include <string>

#include "iperf/OurIperfServer.h"

namespace kestova {

// The iperf3 options of every run when the installed parameter file gives none.
inline constexpr const char* kDefaultIperfParameters = "-P 20 -l 1024k";

// The first line of speedTest/iperf_command_parameter_config.txt, or the default when that line
// is empty or the file cannot be read. The file is the user's own: its text is used as it stands.
std::string readIperfParameters();

// runDownloadIperf_<index>.sh and runUploadIperf_<index>.sh (.bat on Windows).
std::string downloadScriptPath(std::size_t index);
std::string uploadScriptPath(std::size_t index);

// The command lines, without their line end, with the paths in the system's spelling (backslashes
// on Windows). Download runs in reverse mode (-R), so that the server sends.
std::string downloadCommandLine(const OurIperfServer& server, std::size_t index,
                                const std::string& parameters);
std::string uploadCommandLine(const OurIperfServer& server, std::size_t index,
                              const std::string& parameters);

// Writes both scripts of the server, each its line and a line end (as a text file of the system). A
// script that cannot be written is skipped.
void writeCommandScripts(const OurIperfServer& server, std::size_t index,
                         const std::string& parameters);

// Writes one direction's script of the server anew, with the parameters chosen for this test.
void writeDownloadScript(const OurIperfServer& server, std::size_t index,
                         const std::string& parameters);
void writeUploadScript(const OurIperfServer& server, std::size_t index,
                       const std::string& parameters);

// The short run before a stage that tells the line's rough rate: runDownloadProbe.sh (.bat) with
// one line in the scripts' form, "-R -t <seconds>" and the output speedTest/dn_probe.txt;
// runUploadProbe.sh likewise without "-R", into speedTest/up_probe.txt.
std::string downloadProbeScriptPath();
std::string uploadProbeScriptPath();
std::string probeCommandLine(const OurIperfServer& server, const std::string& parameters,
                             bool download, int seconds);
void writeProbeScript(const OurIperfServer& server, const std::string& parameters, bool download,
                      int seconds);

}  // namespace kestova
