// The system values on Windows come from the registry, read whole and raw.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "platform/SystemValues.h"
#include "platform/windows/Registry.h"

namespace kestova::platform {
namespace {

constexpr const wchar_t* kTestKey = L"Software\\Kestova\\RegistryTest";
constexpr const wchar_t* kLanguageKey = L"System\\CurrentControlSet\\Control\\Nls\\Language";
constexpr const wchar_t* kBrowserKey = L"SOFTWARE\\Microsoft\\Internet Explorer";

// A value set for one test and put back as it was afterwards.
class ValueForTest {
  public:
    ValueForTest(HKEY root, const wchar_t* subkey, const wchar_t* name)
        : root_(root),
          subkey_(subkey),
          name_(name),
          before_(readRegistryValue(root, subkey, name)) {}
    ValueForTest(const ValueForTest&) = delete;
    ValueForTest& operator=(const ValueForTest&) = delete;
    ~ValueForTest() {
        if (before_.bytes) {
            set(*before_.bytes);
        } else {
            remove();
        }
    }
    bool set(const std::string& bytes, DWORD type = REG_SZ) const {
        return ::RegSetKeyValueW(root_, subkey_, name_, type, bytes.data(),
                                 static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
    }
    void remove() const { ::RegDeleteKeyValueW(root_, subkey_, name_); }

  private:
    HKEY root_;
    const wchar_t* subkey_;
    const wchar_t* name_;
    StoredValue before_;
};

TEST(WindowsRegistry, AValueIsReadWholeAndRawWhateverItsTypeAndLength) {
    {
        const ValueForTest text(HKEY_CURRENT_USER, kTestKey, L"Text");
        ASSERT_TRUE(text.set(toUtf16LeWithNul("11.1566.19041.0")));
        const StoredValue read = readRegistryValue(HKEY_CURRENT_USER, kTestKey, L"Text");
        EXPECT_TRUE(read.keyOpened);
        EXPECT_EQ(read.bytes, toUtf16LeWithNul("11.1566.19041.0"));

        // Longer than any buffer the probes use: still read whole, the probe decides.
        const std::string longValue = toUtf16LeWithNul(std::string(300, '9'));
        ASSERT_TRUE(text.set(longValue, REG_BINARY));
        EXPECT_EQ(readRegistryValue(HKEY_CURRENT_USER, kTestKey, L"Text").bytes, longValue);

        text.remove();
        const StoredValue missing = readRegistryValue(HKEY_CURRENT_USER, kTestKey, L"Text");
        EXPECT_TRUE(missing.keyOpened);
        EXPECT_FALSE(missing.bytes);
    }
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey);
    EXPECT_FALSE(readRegistryValue(HKEY_CURRENT_USER, kTestKey, L"Text").keyOpened);
}

TEST(WindowsRegistry, TheMachineValuesAreTheInstallLanguageAndTheBrowsersVersions) {
    const ValueForTest language(HKEY_LOCAL_MACHINE, kLanguageKey, L"InstallLanguage");
    const ValueForTest version(HKEY_LOCAL_MACHINE, kBrowserKey, L"Version");
    const ValueForTest serviceVersion(HKEY_LOCAL_MACHINE, kBrowserKey, L"svcVersion");
    ASSERT_TRUE(language.set(toUtf16LeWithNul("0804")));
    ASSERT_TRUE(version.set(toUtf16LeWithNul("9.11.19041.1566")));
    ASSERT_TRUE(serviceVersion.set(toUtf16LeWithNul("11.1566.19041.0")));

    const MachineValues values;
    EXPECT_EQ(values.installLanguage().bytes, toUtf16LeWithNul("0804"));
    EXPECT_EQ(values.browserVersion().bytes, toUtf16LeWithNul("9.11.19041.1566"));
    EXPECT_EQ(values.browserServiceVersion().bytes, toUtf16LeWithNul("11.1566.19041.0"));

    serviceVersion.remove();
    const StoredValue missing = values.browserServiceVersion();
    EXPECT_TRUE(missing.keyOpened);
    EXPECT_FALSE(missing.bytes);
}

}  // namespace
}  // namespace kestova::platform
