#include "probes/LanguageProbe.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/TextFile.h"
#include "probes/StoredValueLimit.h"
#include "workspace/StatusFile.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {

namespace {

constexpr std::array<std::string_view, 5> kChineseCodes{"0004", "0404", "0804", "0C04", "1004"};

// The low bytes of the value's first four UTF-16 units; where the text ends sooner, '?' stands
// in place of the missing characters.
std::string fourCharacterCode(const std::string& bytes) {
    std::string code(4, '?');
    for (std::size_t unit = 0; unit < 4 && unit * 2 + 1 < bytes.size(); ++unit) {
        if (bytes[unit * 2] == '\0' && bytes[unit * 2 + 1] == '\0') {
            break;
        }
        code[unit] = bytes[unit * 2];
    }
    return code;
}

}  // namespace

std::string detectLanguage(const platform::SystemValues& values) {
    const platform::StoredValue language = values.installLanguage();
    if (!language.keyOpened) {
        return {};
    }
    if (!fitsStoredValueBuffer(language)) {
        writeWorkspaceFile(workspace::kLanguage, "error");
        return {};
    }
    writeWorkspaceFile(workspace::kLanguageCode, fourCharacterCode(*language.bytes));
    const std::string code = platform::readFirstLine(workspace::kLanguageCode);
    const bool chinese =
        std::find(kChineseCodes.begin(), kChineseCodes.end(), code) != kChineseCodes.end();
    const std::string result = chinese ? "zh" : "en";
    writeWorkspaceFile(workspace::kLanguage, result);
    return result;
}

}  // namespace kestova
