#include <array>
#include <cstdlib>
#include <utility>

#include "platform/SystemValues.h"

// The texts behind the system values, the same on every system.
namespace kestova::platform {

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 14> kLanguageIdentifiers{{
    {"zh_CN", "0804"},
    {"zh_TW", "0404"},
    {"zh_HK", "0C04"},
    {"zh_SG", "1004"},
    {"zh_MO", "1404"},
    {"zh", "0004"},
    {"en_US", "0409"},
    {"en_GB", "0809"},
    {"de_DE", "0407"},
    {"fr_FR", "040C"},
    {"ja_JP", "0411"},
    {"ko_KR", "0412"},
    {"ru_RU", "0419"},
    {"es_ES", "0C0A"},
}};

constexpr std::string_view kFallbackIdentifier = "0409";

}  // namespace

std::string localeNameFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

std::string languageIdentifierOfLocale(std::string_view localeName) {
    // zh_TW.UTF-8@variant: the language and territory alone decide.
    const std::string_view base = localeName.substr(0, localeName.find_first_of(".@"));
    for (const auto& [locale, identifier] : kLanguageIdentifiers) {
        if (base == locale) {
            return std::string(identifier);
        }
    }
    return std::string(kFallbackIdentifier);
}

std::string toUtf16LeWithNul(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2 + 2);
    for (const char c : text) {
        bytes += c;
        bytes += '\0';
    }
    bytes.append(2, '\0');
    return bytes;
}

}  // namespace kestova::platform
