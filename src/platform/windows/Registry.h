#pragma once

#include <windows.h>

#include "platform/SystemValues.h"

namespace kestova::platform {

// One value of a registry key, read whole whatever its type: whether the key opened, and the
// value's raw bytes when the value could be read.
StoredValue readRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName);

}  // namespace kestova::platform
