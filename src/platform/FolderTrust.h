#pragma once

#include <optional>
#include <string>

namespace kestova::platform {

// Why a user other than this one, or the system's administrator, could change what stands at the
// path or put something else in its place, as a short text naming the place; nothing when nobody
// else can. The path, with its links resolved, and every folder above it up to the root count:
// whoever can write a folder above can rename the path away and set their own in its place, so
// checking the path alone would not do. A folder's sticky bit keeps others from renaming what they
// do not own, so a sticky folder that others can write (such as /tmp) is fine. A place is refused
// when it belongs to another user (the administrator excepted), or when its group or everyone may
// write it and it is not a sticky folder. A name that does not exist yet counts as nothing; the
// folder that would hold it is checked. A place that cannot be looked at is refused.
std::optional<std::string> whyOthersCanChange(const std::string& path);

}  // namespace kestova::platform
