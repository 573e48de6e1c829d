#pragma once

namespace kestova {

// From the call on, every end of the program ends the command scripts it started, with what they
// started (their iperf3 clients), and from the moment the end begins no script starts:
// - SIGINT, SIGTERM, SIGHUP and SIGQUIT end the program at once with 128 + the signal's number,
//   doing nothing more of the test under way (no result report is sent). A SIGHUP that the program
//   was started ignoring (nohup) stays ignored.
// - exit() from anywhere but main's end, such as the window's toolkit when the display is gone:
//   the program ends with status 1 as soon as the scripts have ended, doing nothing more of the
//   test under way (no result report) nor of the toolkit's teardown.
// - std::terminate on any thread (an uncaught exception, a noexcept broken): the scripts end,
//   then the toolkit's message and the abort follow as before.
// SIGKILL cannot be caught: there, on Linux, each script's keeper ends its group by itself
// (platform::ChildProcess::startShellScript).
// Contract: called once, on the main thread, before the test run starts threads. The signal
// handler only notes the signal; a watcher thread of its own, which looks every 50 ms, does the
// rest. Without a thread to spare, the signals keep their default action.
void endScriptsAtEveryEnd();

// Says that main is returning: the exit that follows is the program's own, in order.
void mainHasEnded();

}  // namespace kestova
