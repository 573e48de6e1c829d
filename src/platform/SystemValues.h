#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestova::platform {

// What reading one stored value gave: whether its key could be opened, and the value's raw bytes
// (UTF-16LE text with its terminating NUL unit) when it could be read.
struct StoredValue {
    bool keyOpened = false;
    std::optional<std::string> bytes;
};

// The system facts that the environment probes ask for, in the shape they were kept in on the
// program's first platform. Tests replace it with one that holds any values or failures.
class SystemValues {
  public:
    SystemValues() = default;
    SystemValues(const SystemValues&) = delete;
    SystemValues& operator=(const SystemValues&) = delete;
    virtual ~SystemValues() = default;

    // The install language as a four-character language identifier, such as 0409.
    virtual StoredValue installLanguage() const = 0;
    // The browser's "Version" and "svcVersion" values.
    virtual StoredValue browserVersion() const = 0;
    virtual StoredValue browserServiceVersion() const = 0;
};

// The values of this machine: the install language from the locale of the environment, and the
// web engine's version once the window has handed it over (missing without a window).
class MachineValues : public SystemValues {
  public:
    void setWebEngineVersion(std::string version) { webEngineVersion_ = std::move(version); }

    StoredValue installLanguage() const override;
    StoredValue browserVersion() const override;
    StoredValue browserServiceVersion() const override;

  private:
    std::optional<std::string> webEngineVersion_;
};

// The locale name that decides the language: LC_ALL, else LC_MESSAGES, else LANG (the first that
// is set and not empty); the empty text when none is.
std::string localeNameFromEnvironment();

// The four-character language identifier of a locale name such as zh_TW.UTF-8; 0409 for C,
// POSIX, the empty name and every name it does not know.
std::string languageIdentifierOfLocale(std::string_view localeName);

// The text as UTF-16LE bytes, one unit per byte of the text, with a terminating NUL unit.
std::string toUtf16LeWithNul(std::string_view text);

}  // namespace kestova::platform
