#include "platform/FolderTrust.h"

namespace kestova::platform {

// Here every place is accepted: the per-user workspace under %LOCALAPPDATA% inherits the profile's
// access list (the user, SYSTEM and the administrators), and reading an access list soundly
// (inherited entries, groups, deny entries) is not cheap enough to do here.
std::optional<std::string> whyOthersCanChange(const std::string& /*path*/) {
    return std::nullopt;
}

}  // namespace kestova::platform
