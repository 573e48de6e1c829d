// kestova-speedtest: the connection speed test.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/ResultDocument.h"
#include "app/RunSettings.h"
#include "app/TerminalProgress.h"
#include "app/TerminationSignals.h"
#include "app/UpgradeNotice.h"
#include "app/WindowModule.h"
#include "platform/ChildProcess.h"
#include "platform/ProgramArguments.h"
#include "platform/ProgramFolder.h"
#include "platform/SharedLibrary.h"
#include "platform/SystemValues.h"
#include "platform/Terminal.h"
#include "service/ServerAssignment.h"
#include "service/VersionCheck.h"
#include "testrun/HeadlessWindow.h"
#include "testrun/StartUp.h"
#include "testrun/TestRun.h"
#include "testrun/WindowChannel.h"
#include "workspace/RunLog.h"
#include "workspace/ScriptTrust.h"

namespace {

using namespace std::chrono_literals;

// Every step of a test is bounded; this only guards against a bound that was overlooked.
constexpr auto kLongestTest = 15min;

// The result document of the test that ended so, on standard output.
void printResultDocument(kestova::TestEnd end, const kestova::EarlierMerges& earlier,
                         const kestova::ServerAssignmentState& assignments) {
    std::cout << kestova::resultDocument(
                     kestova::resultInputsNow(end, earlier, assignments.iperfServerList()))
              << std::flush;
}

// Waits until the test has ended, with its progress shown in place while standard error is a
// terminal.
std::optional<bool> waitForTheTest(kestova::TestRun& testRun) {
    std::optional<kestova::TerminalProgress> progress;
    if (kestova::platform::standardErrorIsTerminal()) {
        progress.emplace();
    }
    return testRun.waitForRunsToEnd(kLongestTest);
}

// Without a window: start-up as the window does it, then Start once. Exit status 2, with one line
// on standard error and nothing touched, where other users could change what the scripts run; 0
// when both stages completed, 1 otherwise; 3, with one line on standard error, where Start would
// open the upgrade page (nothing is measured and no page is opened: nobody may be there to see it).
// With --json the run log goes to standard error and standard output holds the result document
// alone; on a terminal standard error also shows the progress.
int runWithoutWindow(const kestova::CommandLineOptions& options) {
    if (const std::optional<std::string> untrusted =
            kestova::workspace::whyScriptsMayNotRunHere()) {
        std::cerr << "kestova-speedtest: " << *untrusted << "\n";
        return kestova::kExitCannotStart;
    }
    if (options.json) {
        kestova::sendRunLogTo(kestova::RunLogStream::StandardError);
    }
    const kestova::platform::MachineValues values;
    const kestova::TestRunSettings settings = kestova::testRunSettingsFor(options);
    const kestova::ServerAssignmentState& assignments = *settings.assignments;
    const kestova::EarlierMerges earlier = kestova::EarlierMerges::note();
    kestova::runStartUpChecks(values, options.service);
    if (kestova::upgradeIsRequired()) {
        std::cerr << kestova::upgradeRequiredNotice() << std::flush;
        if (options.json) {
            printResultDocument(kestova::TestEnd::UpgradeRequired, earlier, assignments);
        }
        return kestova::exitStatusOf(kestova::TestEnd::UpgradeRequired);
    }
    kestova::HeadlessWindow window;
    auto channel = std::make_shared<kestova::WindowChannel>(window, kestova::runAtOnce());
    kestova::TestRun testRun(settings, window, channel);
    testRun.OnBnClickedStart();
    const std::optional<bool> completed = waitForTheTest(testRun);
    channel->close();
    const kestova::TestEnd end =
        completed.value_or(false) ? kestova::TestEnd::Completed : kestova::TestEnd::Failed;
    if (options.json) {
        printResultDocument(end, earlier, assignments);
    }
    return kestova::exitStatusOf(end);
}

// The window, from its module beside the program. A build without the window says so.
int runWithWindow(int argc, char** argv, const kestova::CommandLineOptions& options) {
#ifndef KESTOVA_WINDOW_MODULE
    static_cast<void>(argc);
    static_cast<void>(argv);
    static_cast<void>(options);
    std::cerr << "kestova-speedtest: this build has no window; run it with --no-window\n";
    return kestova::kExitCannotStart;
#else
    const std::optional<std::string> folder = kestova::platform::executableFolder();
    std::string error = "the folder of the program cannot be found";
    void* entry = folder ? kestova::platform::loadLibraryFunction(*folder + "/" + kWindowModuleFile,
                                                                  kWindowEntryName, error)
                         : nullptr;
    if (entry == nullptr) {
        std::cerr << "kestova-speedtest: the window cannot be shown: " << error << "\n";
        return kestova::kExitCannotStart;
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
        kestova::parseCommandLine(kestova::platform::programArguments(argc, argv));
    if (!parsed.options) {
        std::cerr << "kestova-speedtest: " << parsed.error << "\n" << kestova::kUsage;
        return kestova::kExitCannotStart;
    }
    if (parsed.options->showHelp || parsed.options->showVersion) {
        std::cout << (parsed.options->showHelp ? kestova::helpText() : kestova::versionText())
                  << std::flush;
        return kestova::kExitCompleted;
    }
    if (const auto error = kestova::platform::enterProgramFolder(parsed.options->workdir)) {
        std::cerr << "kestova-speedtest: " << *error << "\n";
        return kestova::kExitCannotStart;
    }
    kestova::endScriptsAtEveryEnd();
    const int status = parsed.options->noWindow ? runWithoutWindow(*parsed.options)
                                                : runWithWindow(argc, argv, *parsed.options);
    // No iperf3 client outlives the program.
    kestova::platform::endRunningScriptsForGood();
    kestova::mainHasEnded();
    return status;
}
