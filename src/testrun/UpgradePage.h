#pragma once

namespace kestova {

// The provider's page that the version gate opens, set where the program is built
// (KESTOVA_UPGRADE_PAGE).
extern const char* const kUpgradePageAddress;

}  // namespace kestova
