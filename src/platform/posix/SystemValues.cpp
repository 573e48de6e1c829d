#include "platform/SystemValues.h"

namespace kestova::platform {

StoredValue MachineValues::installLanguage() const {
    return {true, toUtf16LeWithNul(languageIdentifierOfLocale(localeNameFromEnvironment()))};
}

StoredValue MachineValues::browserVersion() const {
    if (!webEngineVersion_) {
        return {true, std::nullopt};
    }
    return {true, toUtf16LeWithNul(*webEngineVersion_)};
}

StoredValue MachineValues::browserServiceVersion() const {
    return browserVersion();
}

}  // namespace kestova::platform
