#include "app/RunSettings.h"

#include "platform/OpenAddress.h"

namespace kestova {

TestRunSettings testRunSettingsFor(const CommandLineOptions& options) {
    TestRunSettings settings;
    settings.service = options.service;
    settings.timing = options.shortPauses ? TestRunTiming::shortPauses() : TestRunTiming{};
    settings.openAddress = [](const std::string& address) {
        static_cast<void>(platform::openAddressDetached(address));
    };
    return settings;
}

}  // namespace kestova
