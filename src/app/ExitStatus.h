#pragma once

namespace kestova {

// The program's exit statuses, as the README and --help give them to the outside. Every place
// that ends the program, the window's and the signal path included, uses these names.
// Both stages completed; also --help, --version and the window's own end.
inline constexpr int kExitCompleted = 0;
// The test failed; also an end from outside main, such as the window's display gone.
inline constexpr int kExitFailed = 1;
// Nothing started: bad arguments, a program folder that cannot be entered or that other users can
// write, no window to show.
inline constexpr int kExitCannotStart = 2;
// A newer version is required: nothing measured.
inline constexpr int kExitUpgradeRequired = 3;
// Without a window: another program holds the workspace (a test is already running there).
inline constexpr int kExitWorkspaceTaken = 4;

// Ended by a termination signal: 128 + its number, as shells report it.
constexpr int exitStatusOnSignal(int signal) {
    return 128 + signal;
}

// How a test without a window ended: its result document's status and the program's exit status.
enum class TestEnd { Completed, Failed, UpgradeRequired };

constexpr int exitStatusOf(TestEnd end) {
    switch (end) {
        case TestEnd::Completed:
            return kExitCompleted;
        case TestEnd::UpgradeRequired:
            return kExitUpgradeRequired;
        case TestEnd::Failed:
            break;
    }
    return kExitFailed;
}

}  // namespace kestova
