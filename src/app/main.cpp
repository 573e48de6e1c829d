// kestova-speedtest: the connection speed test.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/RunSettings.h"
#include "app/TerminationSignals.h"
#include "app/UpgradeNotice.h"
#include "app/WindowModule.h"
#include "platform/ChildProcess.h"
#include "platform/ProgramFolder.h"
#include "platform/SharedLibrary.h"
#include "platform/SystemValues.h"
#include "testrun/HeadlessWindow.h"
#include "testrun/StartUp.h"
#include "testrun/TestRun.h"
#include "testrun/WindowChannel.h"

namespace {

using namespace std::chrono_literals;

// Every step of a test is bounded; this only guards against a bound that was overlooked.
constexpr auto kLongestTest = 15min;

// Without a window: start-up as the window does it, then Start once. Exit status 0 when both
// stages completed, 1 otherwise; 3, with one line on standard error, where Start would open the
// upgrade page (nothing is measured and no page is opened: nobody may be there to see it).
int runWithoutWindow(const kestova::CommandLineOptions& options) {
    const kestova::platform::MachineValues values;
    kestova::runStartUpChecks(values, options.service);
    if (kestova::upgradeIsRequired()) {
        std::cerr << kestova::upgradeRequiredNotice() << std::flush;
        return kestova::kExitUpgradeRequired;
    }
    kestova::HeadlessWindow window;
    auto channel = std::make_shared<kestova::WindowChannel>(window, kestova::runAtOnce());
    kestova::TestRun testRun(kestova::testRunSettingsFor(options), window, channel);
    testRun.OnBnClickedStart();
    const std::optional<bool> completed = testRun.waitForRunsToEnd(kLongestTest);
    channel->close();
    return completed.value_or(false) ? 0 : 1;
}

// The window, from its module beside the program. A build without the window says so.
int runWithWindow(int argc, char** argv, const kestova::CommandLineOptions& options) {
#ifndef KESTOVA_WINDOW_MODULE
    static_cast<void>(argc);
    static_cast<void>(argv);
    static_cast<void>(options);
    std::cerr << "kestova-speedtest: this build has no window; run it with --no-window\n";
    return 2;
#else
    const std::optional<std::string> folder = kestova::platform::executableFolder();
    std::string error = "the folder of the program cannot be found";
    void* entry = folder ? kestova::platform::loadLibraryFunction(*folder + "/" + kWindowModuleFile,
                                                                  kWindowEntryName, error)
                         : nullptr;
    if (entry == nullptr) {
        std::cerr << "kestova-speedtest: the window cannot be shown: " << error << "\n";
        return 2;
    }
    return reinterpret_cast<WindowEntry>(entry)(argc, argv, &options);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // The run log and the sockets must never end the program when their reader goes away.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const kestova::ParsedCommandLine parsed =
        kestova::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << "kestova-speedtest: " << parsed.error << "\n" << kestova::kUsage;
        return 2;
    }
    if (parsed.options->showHelp || parsed.options->showVersion) {
        std::cout << (parsed.options->showHelp ? kestova::helpText() : kestova::versionText())
                  << std::flush;
        return 0;
    }
    if (const auto error = kestova::platform::enterProgramFolder(parsed.options->workdir)) {
        std::cerr << "kestova-speedtest: " << *error << "\n";
        return 2;
    }
    kestova::endProgramOnTerminationSignals();
    const int status = parsed.options->noWindow ? runWithoutWindow(*parsed.options)
                                                : runWithWindow(argc, argv, *parsed.options);
    // No iperf3 client outlives the program.
    kestova::platform::endRunningScripts();
    return status;
}
