#pragma once

#include "app/CommandLine.h"
#include "testrun/TestRun.h"

namespace kestova {

// The test run's settings for the command line given: the service, the pauses, and the version
// gate's way of opening the upgrade page (the desktop's opener). How the gate ends the program is
// the caller's: the window quits its application, the program without a window returns.
TestRunSettings testRunSettingsFor(const CommandLineOptions& options);

}  // namespace kestova
