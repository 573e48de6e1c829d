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
#include "platform/FolderLock.h"
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
#include "workspace/UserWorkspace.h"
#include "workspace/WorkspaceFiles.h"

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
// on standard error and nothing touched, where other users could change what the scripts run (in
// a user's own workspace made just now); 0
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
int runWithWindow(int argc, char** argv, const WindowStart& start) {
#ifndef KESTOVA_WINDOW_MODULE
    static_cast<void>(argc);
    static_cast<void>(argv);
    static_cast<void>(start);
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
    return reinterpret_cast<WindowEntry>(entry)(argc, argv, &start);
#endif
}

// Another program holds the workspace: a test is running there. Without a window this one ends
// at once, saying so; with one, the other's window comes to the front. Nothing is written.
int runBesideTheHolder(int argc, char** argv, const kestova::CommandLineOptions& options,
                       const std::string& workspace) {
    if (options.noWindow) {
        std::cerr << "kestova-speedtest: a test is already running in " << workspace << "\n";
        return kestova::kExitWorkspaceTaken;
    }
    return runWithWindow(argc, argv, WindowStart{&options, workspace.c_str(), true});
}

// Others could change what the scripts in the workspace run: nothing there is touched, not even
// the lock file. Without a window the program says why in one line, with one the window shows it
// in a message; either way it ends with status 2.
int refuseUntrustedWorkspace(int argc, char** argv, const kestova::CommandLineOptions& options,
                             const std::string& workspace, const std::string& untrusted) {
    if (options.noWindow) {
        std::cerr << "kestova-speedtest: " << untrusted << "\n";
        return kestova::kExitCannotStart;
    }
    return runWithWindow(argc, argv,
                         WindowStart{&options, workspace.c_str(), false, untrusted.c_str()});
}

// Takes the workspace for the program's whole life: made first when it is the user's own and
// missing, then locked before anything else is written in it. A lock file that cannot be made
// (a read-only folder given by --workdir) leaves the program unlocked: it can write nothing there
// either.
std::optional<kestova::platform::FolderLock> takeWorkspace(
    const kestova::workspace::Workspace& workspace, kestova::platform::FolderLock::Outcome& outcome,
    std::string& error) {
    if (const auto notMade = kestova::workspace::makeUserWorkspace(workspace)) {
        error = *notMade;
        outcome = kestova::platform::FolderLock::Outcome::Unavailable;
        return std::nullopt;
    }
    std::string lockFile = workspace.folder;
    lockFile += kestova::platform::kScriptPathSeparator;
    lockFile += kestova::workspace::kLockFile;
    return kestova::platform::FolderLock::take(lockFile, outcome);
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
    const kestova::workspace::WorkspaceChoice choice =
        kestova::workspace::chooseWorkspace(parsed.options->workdir);
    if (parsed.options->showHelp || parsed.options->showVersion) {
        std::cout << (parsed.options->showHelp
                          ? kestova::helpText(choice.workspace ? choice.workspace->folder
                                                               : "none: " + choice.error)
                          : kestova::versionText())
                  << std::flush;
        return kestova::kExitCompleted;
    }
    if (!choice.workspace) {
        std::cerr << "kestova-speedtest: " << choice.error << "\n";
        return kestova::kExitCannotStart;
    }
    const kestova::workspace::Workspace& workspace = *choice.workspace;
    if (const auto untrusted = kestova::workspace::whyScriptsMayNotRunIn(workspace.folder)) {
        return refuseUntrustedWorkspace(argc, argv, *parsed.options, workspace.folder, *untrusted);
    }
    kestova::platform::FolderLock::Outcome outcome{};
    std::string error;
    // Held until main returns; the system lets it go at any other end.
    const std::optional<kestova::platform::FolderLock> lock =
        takeWorkspace(workspace, outcome, error);
    if (!error.empty()) {
        std::cerr << "kestova-speedtest: " << error << "\n";
        return kestova::kExitCannotStart;
    }
    if (outcome == kestova::platform::FolderLock::Outcome::HeldElsewhere) {
        return runBesideTheHolder(argc, argv, *parsed.options, workspace.folder);
    }
    if (const auto notReady =
            kestova::workspace::prepareUserWorkspace(choice.programFolder, workspace)) {
        std::cerr << "kestova-speedtest: " << *notReady << "\n";
        return kestova::kExitCannotStart;
    }
    if (const auto notEntered = kestova::platform::enterProgramFolder(workspace.folder)) {
        std::cerr << "kestova-speedtest: " << *notEntered << "\n";
        return kestova::kExitCannotStart;
    }
    kestova::endScriptsAtEveryEnd();
    const int status =
        parsed.options->noWindow
            ? runWithoutWindow(*parsed.options)
            : runWithWindow(argc, argv,
                            WindowStart{&*parsed.options, workspace.folder.c_str(), false});
    // No iperf3 client outlives the program.
    kestova::platform::endRunningScriptsForGood();
    kestova::mainHasEnded();
    return status;
}
