#include "testrun/UpgradePage.h"

namespace kestova {

const char* const kUpgradePageAddress = KESTOVA_UPGRADE_PAGE;

}  // namespace kestova
