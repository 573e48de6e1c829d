#pragma once

#include "app/CommandLine.h"

// The application: the window runs until it ends, and the program ends with it.
class CTarnApp {
  public:
    // The settings key name of the program; nothing is stored under it.
    static constexpr const char* kSettingsKey = "Local AppWizard-Generated Applications";

    // Runs the window; the program's exit status.
    int InitInstance(int argc, char** argv, const kestova::CommandLineOptions& options);
};
