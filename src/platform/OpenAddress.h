#pragma once

#include <string>

namespace kestova::platform {

// Asks the desktop to open the web address (xdg-open), without waiting for it. False when the
// opener could not be started.
bool openAddressDetached(const std::string& address);

}  // namespace kestova::platform
