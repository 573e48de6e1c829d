#include "iperf/LineProbe.h"

#include "iperf/IperfCommandScripts.h"
#include "iperf/IperfOutput.h"
#include "iperf/ScriptStart.h"
#include "iperf/SummaryLines.h"
#include "platform/ChildProcess.h"
#include "platform/ProgramFolder.h"
#include "platform/TextFile.h"
#include "workspace/RunLog.h"
#include "workspace/Text.h"

namespace kestova::iperf {

namespace {

std::optional<double> runProbe(const std::string& scriptPath, const std::string& outputPath,
                               std::chrono::milliseconds wait) {
    const ScriptRun run =
        runScriptUntilServed(platform::inCurrentFolder(scriptPath), outputPath, wait);
    if (run == ScriptRun::NotStarted) {
        return std::nullopt;
    }
    if (run == ScriptRun::StillRunning) {
        // A probe that outlasts its wait tells nothing; it must not share the line with the stage.
        platform::endRunningScripts();
        return std::nullopt;
    }
    const std::optional<ReceiverTotal> total = receiverTotalOf(platform::readLines(outputPath));
    if (!total || total->mbps <= 0) {
        return std::nullopt;
    }
    return total->mbps;
}

}  // namespace

std::optional<double> probeLine(const OurIperfServer& server, const std::string& parameters,
                                bool download, int seconds, std::chrono::milliseconds wait) {
    const char* direction = download ? "download" : "upload";
    const std::string output = download ? downloadProbeOutputPath() : uploadProbeOutputPath();
    runLog() << "start probe " << direction << "... " << currentTimestamp();
    writeProbeScript(server, parameters, download, seconds);
    const std::optional<double> rate =
        runProbe(download ? downloadProbeScriptPath() : uploadProbeScriptPath(), output, wait);
    runLog() << "end probe " << direction << ": "
             << (rate ? twoDecimals(*rate) + " Mbits/sec" : std::string("no figure")) << " "
             << currentTimestamp();
    return rate;
}

}  // namespace kestova::iperf
