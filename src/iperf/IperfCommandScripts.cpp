#include "iperf/IperfCommandScripts.h"

#include "iperf/IperfOutput.h"
#include "platform/SystemSpelling.h"
#include "platform/TextFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

std::string commandStart(const OurIperfServer& server, const std::string& parameters) {
    return platform::inScriptSpelling(workspace::kIperfClient) + " -c " + server.ipAddress +
           " -p " + server.port + " -f m " + parameters;
}

}  // namespace

std::string readIperfParameters() {
    std::string parameters = platform::readFirstLine(workspace::kIperfParameters);
    return parameters.empty() ? std::string(kDefaultIperfParameters) : parameters;
}

std::string downloadScriptPath(std::size_t index) {
    return "runDownloadIperf_" + std::to_string(index) + std::string(platform::kScriptSuffix);
}

std::string uploadScriptPath(std::size_t index) {
    return "runUploadIperf_" + std::to_string(index) + std::string(platform::kScriptSuffix);
}

std::string downloadCommandLine(const OurIperfServer& server, std::size_t index,
                                const std::string& parameters) {
    return commandStart(server, parameters) + " -R -t 10 > " +
           platform::inScriptSpelling(iperf::downloadOutputPath(index));
}

std::string uploadCommandLine(const OurIperfServer& server, std::size_t index,
                              const std::string& parameters) {
    return commandStart(server, parameters) + " -t 10 > " +
           platform::inScriptSpelling(iperf::uploadOutputPath(index));
}

void writeCommandScripts(const OurIperfServer& server, std::size_t index,
                         const std::string& parameters) {
    writeDownloadScript(server, index, parameters);
    writeUploadScript(server, index, parameters);
}

void writeDownloadScript(const OurIperfServer& server, std::size_t index,
                         const std::string& parameters) {
    static_cast<void>(platform::writeWholeFile(
        downloadScriptPath(index), downloadCommandLine(server, index, parameters) + "\n"));
}

void writeUploadScript(const OurIperfServer& server, std::size_t index,
                       const std::string& parameters) {
    static_cast<void>(platform::writeWholeFile(
        uploadScriptPath(index), uploadCommandLine(server, index, parameters) + "\n"));
}

std::string downloadProbeScriptPath() {
    return "runDownloadProbe" + std::string(platform::kScriptSuffix);
}

std::string uploadProbeScriptPath() {
    return "runUploadProbe" + std::string(platform::kScriptSuffix);
}

std::string probeCommandLine(const OurIperfServer& server, const std::string& parameters,
                             bool download, int seconds) {
    const std::string output =
        download ? iperf::downloadProbeOutputPath() : iperf::uploadProbeOutputPath();
    return commandStart(server, parameters) + (download ? " -R" : "") + " -t " +
           std::to_string(seconds) + " > " + platform::inScriptSpelling(output);
}

void writeProbeScript(const OurIperfServer& server, const std::string& parameters, bool download,
                      int seconds) {
    static_cast<void>(
        platform::writeWholeFile(download ? downloadProbeScriptPath() : uploadProbeScriptPath(),
                                 probeCommandLine(server, parameters, download, seconds) + "\n"));
}

}  // namespace kestova
