#include "app/CommandLine.h"

namespace kestova {

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        const bool takesValue = name == "--workdir" || name == "--service";
        if (takesValue && i + 1 >= arguments.size()) {
            return {std::nullopt, name + " needs a value"};
        }
        if (name == "--workdir") {
            options.workdir = arguments[++i];
        } else if (name == "--service") {
            const std::optional<ServiceEndpoint> endpoint = parseServiceEndpoint(arguments[++i]);
            if (!endpoint) {
                return {std::nullopt, "--service takes HOST or HOST:PORT, not " + arguments[i]};
            }
            options.service = *endpoint;
        } else if (name == "--no-window") {
            options.noWindow = true;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--short-pauses") {
            options.shortPauses = true;
        } else {
            return {std::nullopt, "unknown argument " + name};
        }
    }
    if (options.json && !options.noWindow) {
        return {std::nullopt, "--json needs --no-window"};
    }
    return {options, {}};
}

}  // namespace kestova
