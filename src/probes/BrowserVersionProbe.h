#pragma once

#include "platform/SystemValues.h"

namespace kestova {

// 1 when the browser engine's major version is 9 or more, 0 otherwise and on every failure.
// Leaves the raw bytes of the value used ("svcVersion" when readable, else "Version") in
// speedTest/ie_version.txt and the major version in speedTest/ie_version2.txt; the decision is
// taken on the text as read back from the file.
int detectIeVersion(const platform::SystemValues& values);

}  // namespace kestova
