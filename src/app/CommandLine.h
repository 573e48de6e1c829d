#pragma once

#include <optional>
#include <string>
#include <vector>

#include "service/ServiceEndpoint.h"

namespace kestova {

struct CommandLineOptions {
    std::optional<std::string> workdir;
    ServiceEndpoint service;
    bool noWindow = false;
    bool json = false;  // with noWindow only: the result as JSON on standard output
    bool shortPauses = false;
    // --help and --version: print and end, whatever else was given.
    bool showHelp = false;
    bool showVersion = false;
};

struct ParsedCommandLine {
    std::optional<CommandLineOptions> options;
    std::string error;  // why the arguments were refused, when they were
};

// kestova-speedtest [--workdir DIR] [--service [https://|http://]HOST[:PORT]]
//                   [--service-ca FILE] [--no-window] [--json] [--short-pauses] [--help]
//                   [--version]
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

inline constexpr const char* kUsage =
    "usage: kestova-speedtest [--workdir DIR] [--service [https://|http://]HOST[:PORT]]\n"
    "                         [--service-ca FILE] [--no-window] [--json] [--short-pauses]\n"
    "                         [--help] [--version]\n";

// What --help prints: the usage, every option, the workspace in use (or why there is none), the
// exit statuses and the provider's addresses this program was built with.
std::string helpText(const std::string& workspace);

// What --version prints: the program's name and version, and a line end.
std::string versionText();

}  // namespace kestova
