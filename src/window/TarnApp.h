#pragma once

#include <string>

#include "app/CommandLine.h"

// The application: the window runs until it ends, and the program ends with it.
class CTarnApp {
  public:
    // The settings key name of the program; nothing is stored under it.
    static constexpr const char* kSettingsKey = "Local AppWizard-Generated Applications";

    // Runs the window; the program's exit status. While it runs, a second program started in the
    // same workspace brings it to the front. Given a refusal, it only shows it and ends with
    // status 2.
    int InitInstance(int argc, char** argv, const kestova::CommandLineOptions& options,
                     const std::string& workspace, const char* refusal);

    // Another program holds the workspace: brings its window to the front, or, where it has
    // none, says in a message that a test is running there. Ends with status 0.
    int ShowRunningProgram(int argc, char** argv, const std::string& workspace);
};
