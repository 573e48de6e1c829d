#include "probes/LanguageProbe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/FakeSystemValues.h"
#include "support/ProgramFolderFixture.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using platform::StoredValue;
using platform::toUtf16LeWithNul;
using testing::FakeSystemValues;

const std::string kMissing = "<missing>";

struct LanguageCase {
    const char* name;
    StoredValue value;
    bool workspaceExists;
    std::string result;
    std::string codeFile;
    std::string languageFile;
};

class DetectLanguage : public testing::ProgramFolderTest,
                       public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(DetectLanguage, DecidesOnTheCodeReadBack) {
    const LanguageCase& c = GetParam();
    if (!c.workspaceExists) {
        std::filesystem::remove_all(workspace::kFolder);
    }
    FakeSystemValues values;
    values.language = c.value;
    EXPECT_EQ(detectLanguage(values), c.result);
    EXPECT_EQ(fileBytes(workspace::kLanguageCode), c.codeFile);
    EXPECT_EQ(fileBytes(workspace::kLanguage), c.languageFile);
}

StoredValue code(const std::string& text) {
    return {true, toUtf16LeWithNul(text)};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectLanguage,
    ::testing::Values(
        LanguageCase{"hong_kong", code("0C04"), true, "zh", "0C04", "zh"},
        LanguageCase{"simplified_neutral", code("0004"), true, "zh", "0004", "zh"},
        LanguageCase{"taiwan", code("0404"), true, "zh", "0404", "zh"},
        LanguageCase{"china", code("0804"), true, "zh", "0804", "zh"},
        LanguageCase{"singapore", code("1004"), true, "zh", "1004", "zh"},
        LanguageCase{"us_english", code("0409"), true, "en", "0409", "en"},
        LanguageCase{"macao_is_not_listed", code("1404"), true, "en", "1404", "en"},
        LanguageCase{"traditional_neutral_is_not_listed", code("7C04"), true, "en", "7C04", "en"},
        LanguageCase{"lower_case_differs", code("0c04"), true, "en", "0c04", "en"},
        LanguageCase{"short_value", code("04"), true, "en", "04??", "en"},
        LanguageCase{"value_missing", {true, std::nullopt}, true, "", kMissing, "error"},
        LanguageCase{"value_over_260_bytes", code(std::string(130, '0')), true, "", kMissing,
                     "error"},
        LanguageCase{"key_missing", {false, std::nullopt}, true, "", kMissing, kMissing},
        LanguageCase{"workspace_missing", code("0C04"), false, "en", kMissing, kMissing}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(LocaleLanguage, IdentifierOfEachLocale) {
    const std::pair<const char*, const char*> table[] = {
        {"zh_CN.UTF-8", "0804"}, {"zh_TW", "0404"},  {"zh_HK", "0C04"},       {"zh_SG", "1004"},
        {"zh_MO.UTF-8", "1404"}, {"zh", "0004"},     {"en_US.UTF-8", "0409"}, {"en_GB", "0809"},
        {"fr_FR@euro", "040C"},  {"C", "0409"},      {"POSIX", "0409"},       {"", "0409"},
        {"sv_SE", "0409"},       {"C.UTF-8", "0409"}};
    for (const auto& [locale, identifier] : table) {
        EXPECT_EQ(platform::languageIdentifierOfLocale(locale), identifier) << locale;
    }
}

#ifndef _WIN32
// The real source: LC_ALL, then LC_MESSAGES, then LANG. (On Windows the registry's, in the
// platform's tests.)
class MachineLanguage : public testing::ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
        ::unsetenv("LANG");
    }
};

TEST_F(MachineLanguage, FollowsTheLocaleOfTheEnvironment) {
    platform::MachineValues values;
    EXPECT_EQ(detectLanguage(values), "en");  // unset
    ::setenv("LANG", "zh_TW.UTF-8", 1);
    EXPECT_EQ(detectLanguage(values), "zh");
    EXPECT_EQ(fileBytes(workspace::kLanguageCode), "0404");
    ::setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(detectLanguage(values), "en");
    ::setenv("LC_ALL", "zh_HK.UTF-8", 1);
    EXPECT_EQ(detectLanguage(values), "zh");
    EXPECT_EQ(fileBytes(workspace::kLanguageCode), "0C04");
}
#endif

}  // namespace
}  // namespace kestova
