#include "app/CommandLine.h"

#include "testrun/UpgradePage.h"

namespace kestova {

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        const bool takesValue =
            name == "--workdir" || name == "--service" || name == "--service-ca";
        if (takesValue && i + 1 >= arguments.size()) {
            return {std::nullopt, name + " needs a value"};
        }
        if (name == "--workdir") {
            options.workdir = arguments[++i];
        } else if (name == "--service") {
            std::optional<ServiceEndpoint> endpoint = parseServiceEndpoint(arguments[++i]);
            if (!endpoint) {
                return {std::nullopt,
                        "--service takes [https://|http://]HOST[:PORT] (HOST a name, an IPv4 "
                        "address or [IPv6]), not " +
                            arguments[i]};
            }
            // The authorities stay whatever the order of the two options.
            endpoint->authorityFile = options.service.authorityFile;
            options.service = *endpoint;
        } else if (name == "--service-ca") {
            options.service.authorityFile = arguments[++i];
        } else if (name == "--no-window") {
            options.noWindow = true;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--short-pauses") {
            options.shortPauses = true;
        } else if (name == "--help") {
            options.showHelp = true;
        } else if (name == "--version") {
            options.showVersion = true;
        } else {
            return {std::nullopt, "unknown argument " + name};
        }
    }
    if (options.json && !options.noWindow && !options.showHelp && !options.showVersion) {
        return {std::nullopt, "--json needs --no-window"};
    }
    return {options, {}};
}

std::string helpText(const std::string& workspace) {
    std::string text = kUsage;
    text +=
        "\nMeasures the download and upload speed of this line against the test servers that\n"
        "the provider's test service assigns, and reports the two figures back to it.\n"
        "\nOptions:\n"
        "  --workdir DIR          work in the folder DIR (default: the folder that holds\n"
        "                         the program when you may write it, else a workspace\n"
        "                         of your own; the one in use is named below)\n"
        "  --service [https://|http://]HOST[:PORT]\n"
        "                         the test service to use; HOST is a name, an IPv4 address\n"
        "                         or an IPv6 address in brackets ([2001:db8::1]); without a\n"
        "                         scheme http; the port 80 for http, 443 for https when not\n"
        "                         given; built in: ";
    text += serviceText(ServiceEndpoint{});
    text +=
        "\n"
        "  --service-ca FILE      over https, trust the authorities in FILE (PEM) instead of\n"
        "                         the system's; a service whose certificate does not verify\n"
        "                         against its name (or address) is unreachable: nothing is\n"
        "                         sent to it, and never in clear\n"
        "  --no-window            no window: start-up as the window does it, then one test;\n"
        "                         the program ends when the test and its report have ended;\n"
        "                         on a terminal, standard error shows the stage as it runs\n"
        "  --json                 with --no-window: the result as one JSON document on\n"
        "                         standard output, the run log on standard error\n"
        "  --short-pauses         a stage's pause ends once its iperf3 runs have (13 s at\n"
        "                         most); no pause after the upload or a refused assignment\n"
        "  --help                 print this text and end\n"
        "  --version              print the program's version and end\n"
        "\nExit status:\n"
        "  0  both stages completed (--no-window), or --help or --version\n"
        "  1  the test failed (--no-window)\n"
        "  2  bad arguments, a program folder that other users can write, or the window\n"
        "     cannot be shown\n"
        "  3  a newer version is required (--no-window); one line on standard error names\n"
        "     this version and the one the service offers\n"
        "  4  another program holds the workspace (--no-window): a test is already\n"
        "     running there; one line on standard error names the workspace\n"
        "\nWorkspace in use: ";
    text += workspace;
    text +=
        "\n"
        "One program at a time works in a workspace: a second one with a window brings the\n"
        "first one's window to the front (or says that a test is running) and ends.\n"
        "\nWhen a newer version is required, Start opens the upgrade page:\n  ";
    text += kUpgradePageAddress;
    text += "\n";
    return text;
}

std::string versionText() {
    return std::string("kestova-speedtest ") + KESTOVA_VERSION + "\n";
}

}  // namespace kestova
