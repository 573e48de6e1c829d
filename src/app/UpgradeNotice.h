#pragma once

#include <string>

namespace kestova {

// Whether Start's version gate would send the user to the upgrade page: the version check left
// "1" in speedTest/version.txt.
bool upgradeIsRequired();

// The line that tells a user without a window that a newer version is required: this client's
// version (speedTest/localVersion.txt) and the one the service offers (speedTest/
// latest_version.txt, trimmed), with the upgrade page, ended by a line feed.
std::string upgradeRequiredNotice();

}  // namespace kestova
