#include "platform/OpenAddress.h"

#include <windows.h>

// After windows.h, which it builds on.
#include <shellapi.h>

#include "platform/windows/WideText.h"

namespace kestova::platform {

bool openAddressDetached(const std::string& address) {
    // The shell hands the address to the user's browser and returns; a result above 32 is
    // success.
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", toWide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace kestova::platform
