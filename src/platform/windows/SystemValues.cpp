#include "platform/SystemValues.h"

#include <string>

#include "platform/windows/Registry.h"

namespace kestova::platform {

namespace {

constexpr const wchar_t* kLanguageKey = L"System\\CurrentControlSet\\Control\\Nls\\Language";
constexpr const wchar_t* kBrowserKey = L"SOFTWARE\\Microsoft\\Internet Explorer";

class OpenKey {
  public:
    OpenKey(HKEY root, const wchar_t* subkey) {
        if (::RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

StoredValue readRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName) {
    const OpenKey key(root, subkey);
    if (key.get() == nullptr) {
        return {false, std::nullopt};
    }
    // The value is read whole, however long: the probes decide what is too long for them. A
    // value that grows between asking its size and reading it is asked for again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if (::RegQueryValueExW(key.get(), valueName, nullptr, nullptr, nullptr, &size) !=
            ERROR_SUCCESS) {
            return {true, std::nullopt};
        }
        std::string bytes(size, '\0');
        const LONG read = ::RegQueryValueExW(key.get(), valueName, nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(bytes.data()), &size);
        if (read == ERROR_SUCCESS) {
            bytes.resize(size);
            return {true, std::move(bytes)};
        }
        if (read != ERROR_MORE_DATA) {
            return {true, std::nullopt};
        }
    }
    return {true, std::nullopt};
}

StoredValue MachineValues::installLanguage() const {
    return readRegistryValue(HKEY_LOCAL_MACHINE, kLanguageKey, L"InstallLanguage");
}

StoredValue MachineValues::browserVersion() const {
    return readRegistryValue(HKEY_LOCAL_MACHINE, kBrowserKey, L"Version");
}

StoredValue MachineValues::browserServiceVersion() const {
    return readRegistryValue(HKEY_LOCAL_MACHINE, kBrowserKey, L"svcVersion");
}

}  // namespace kestova::platform
