#include "probes/BrowserVersionProbe.h"

#include <gtest/gtest.h>

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
const StoredValue kAbsent{true, std::nullopt};

StoredValue text(const std::string& version) {
    return {true, toUtf16LeWithNul(version)};
}

struct BrowserCase {
    const char* name;
    StoredValue version;
    StoredValue serviceVersion;
    int result;
    std::string valueFile;
    std::string majorFile;
};

class DetectIeVersion : public testing::ProgramFolderTest,
                        public ::testing::WithParamInterface<BrowserCase> {};

TEST_P(DetectIeVersion, JudgesTheMajorVersionReadBack) {
    const BrowserCase& c = GetParam();
    FakeSystemValues values;
    values.version = c.version;
    values.serviceVersion = c.serviceVersion;
    EXPECT_EQ(detectIeVersion(values), c.result);
    EXPECT_EQ(fileBytes(workspace::kIeVersionValue), c.valueFile);
    EXPECT_EQ(fileBytes(workspace::kIeVersion), c.majorFile);
}

const std::string kLong = "11." + std::string(100, '1');  // 208 bytes with its NUL unit

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectIeVersion,
    ::testing::Values(
        BrowserCase{"service_version_preferred", text("9.11.19041.1566"), text("11.1566.19041.0"),
                    1,
                    std::string("1\0001\000.\0001\0005\0006\0006\000.\0001\0009\0000\0004\0001\000."
                                "\0000\000\000\000",
                                32),
                    "11"},
        BrowserCase{"only_version_8", text("8.0.7601.17514"), kAbsent, 0,
                    toUtf16LeWithNul("8.0.7601.17514"), "8"},
        BrowserCase{"only_version_9_passes", text("9.0.8112.16421"), kAbsent, 1,
                    toUtf16LeWithNul("9.0.8112.16421"), "9"},
        BrowserCase{"web_engine_version", text("108.0.5359.220"), text("108.0.5359.220"), 1,
                    toUtf16LeWithNul("108.0.5359.220"), "108"},
        BrowserCase{"longer_service_version_read_whole", text("9.0"), text(kLong), 1,
                    toUtf16LeWithNul(kLong), "11"},
        BrowserCase{"letters_read_as_zero", text("abc.1"), kAbsent, 0, toUtf16LeWithNul("abc.1"),
                    "0"},
        BrowserCase{"negative_major", text("-3.1"), kAbsent, 0, toUtf16LeWithNul("-3.1"), "-3"},
        BrowserCase{"no_dot", text("10"), kAbsent, 0, toUtf16LeWithNul("10"), kMissing},
        BrowserCase{"leading_dot", text(".10"), kAbsent, 0, toUtf16LeWithNul(".10"), kMissing},
        BrowserCase{"service_version_over_260_bytes", text("9.0"), text(std::string(130, '1')), 1,
                    toUtf16LeWithNul("9.0"), "9"},
        BrowserCase{"version_over_260_bytes", text(std::string(130, '1')), text("11.0"), 0,
                    kMissing, kMissing},
        BrowserCase{"version_missing", kAbsent, text("11.0"), 0, kMissing, kMissing},
        BrowserCase{
            "key_missing", {false, std::nullopt}, {false, std::nullopt}, 0, kMissing, kMissing}),
    [](const auto& param) { return std::string(param.param.name); });

#ifndef _WIN32
// (On Windows the browser's versions are the registry's, in the platform's tests.)
TEST(MachineBrowserVersion, IsMissingUntilTheWindowGivesTheWebEngineVersion) {
    platform::MachineValues values;
    EXPECT_FALSE(values.browserVersion().bytes);
    values.setWebEngineVersion("108.0.5359.220");
    EXPECT_EQ(values.browserVersion().bytes, toUtf16LeWithNul("108.0.5359.220"));
    EXPECT_EQ(values.browserServiceVersion().bytes, toUtf16LeWithNul("108.0.5359.220"));
}
#endif

}  // namespace
}  // namespace kestova
