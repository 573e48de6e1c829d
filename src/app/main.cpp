// kestova-speedtest: the connection speed test.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/ProgramFolder.h"
#include "platform/SystemValues.h"
#include "service/AddressLookup.h"
#include "service/ServerAssignment.h"
#include "testrun/RunLog.h"
#include "testrun/StartUp.h"

namespace {

// Without a window: start-up as the window does it, then the address lookup and the server
// assignment that open a test. Exit status 0 when the service granted a test.
int runWithoutWindow(const kestova::CommandLineOptions& options) {
    const kestova::platform::MachineValues values;
    const kestova::StartUpFacts facts = kestova::runStartUpChecks(values, options.service);
    kestova::runLog() << "start-up: language " << (facts.language.empty() ? "unknown" : facts.language)
                      << ", version check result " << facts.versionResult;
    kestova::getIpAddress(options.service);
    const int assignment = kestova::requestIperfServer(options.service);
    kestova::runLog() << "server assignment result " << assignment;
    return assignment == kestova::kAssignmentGranted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // The run log and the sockets must never end the program when their reader goes away.
    std::signal(SIGPIPE, SIG_IGN);
    const kestova::ParsedCommandLine parsed =
        kestova::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << "kestova-speedtest: " << parsed.error << "\n" << kestova::kUsage;
        return 2;
    }
    if (const auto error = kestova::platform::enterProgramFolder(parsed.options->workdir)) {
        std::cerr << "kestova-speedtest: " << *error << "\n";
        return 2;
    }
    if (!parsed.options->noWindow) {
        std::cerr << "kestova-speedtest: the window is not part of this build yet; use --no-window\n";
        return 2;
    }
    return runWithoutWindow(*parsed.options);
}
