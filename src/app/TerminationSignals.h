#pragma once

namespace kestova {

// From the call on, SIGINT or SIGTERM ends the program: the command scripts still running are
// ended with their iperf3 clients, then the program exits at once with 128 + the signal's number
// (130, 143), doing nothing more of the test under way (no result report is sent).
// Contract: called once, on the main thread, before the test run starts threads. The signal
// handler only notes the signal; a watcher thread of its own, which looks every 50 ms, does the
// rest. Without a thread to spare, the signals keep their default action.
void endProgramOnTerminationSignals();

}  // namespace kestova
