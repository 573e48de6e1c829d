#include "platform/FolderTrust.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/ProgramFolderFixture.h"

namespace kestova::platform {
namespace {

namespace fs = std::filesystem;

// A place inside a folder of the test's own (0700, its folders above as the system has them):
// "holder/place", each with its mode, the place a folder or a file, maybe of another user.
struct TrustCase {
    const char* name;
    bool placeIsFolder;
    mode_t placeMode;
    mode_t holderMode;
    bool placeOfAnotherUser;
    bool trusted;
    const char* blamed;  // the part of the path the reason names, when refused
};

class FolderTrust : public testing::ProgramFolderTest,
                    public ::testing::WithParamInterface<TrustCase> {};

// Nobody's user id, as another user than the one running the tests.
std::optional<uid_t> nobodysId() {
    const struct passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr || nobody->pw_uid == ::geteuid()) {
        return std::nullopt;
    }
    return nobody->pw_uid;
}

TEST_P(FolderTrust, ThePlaceAndTheFolderHoldingItDecide) {
    const TrustCase& each = GetParam();
    const fs::path holder = folder() / "holder";
    const fs::path place = holder / "place";
    fs::create_directory(holder);
    if (each.placeIsFolder) {
        fs::create_directory(place);
    } else {
        std::ofstream(place) << "-P 20\n";
    }
    if (each.placeOfAnotherUser) {
        const std::optional<uid_t> other = nobodysId();
        if (::geteuid() != 0 || !other) {
            GTEST_SKIP() << "only the administrator can give a folder to another user";
        }
        ASSERT_EQ(::chown(place.c_str(), *other, static_cast<gid_t>(-1)), 0);
    }
    // chmod, unlike the creation, is not narrowed by the umask.
    ASSERT_EQ(::chmod(place.c_str(), each.placeMode), 0);
    ASSERT_EQ(::chmod(holder.c_str(), each.holderMode), 0);

    const std::optional<std::string> why = whyOthersCanChange(place.string());

    if (each.trusted) {
        EXPECT_FALSE(why) << *why;
    } else {
        const fs::path blamed = fs::canonical(each.blamed == std::string("place") ? place : holder);
        EXPECT_EQ(why, each.placeOfAnotherUser ? blamed.string() + " belongs to another user"
                                               : "other users can write " + blamed.string());
    }
}

INSTANTIATE_TEST_SUITE_P(
    ModesAndOwners, FolderTrust,
    ::testing::Values(
        TrustCase{"folder_0755", true, 0755, 0755, false, true, ""},
        TrustCase{"folder_0700", true, 0700, 0755, false, true, ""},
        TrustCase{"folder_0775_group_writes", true, 0775, 0755, false, false, "place"},
        TrustCase{"folder_0777_all_write", true, 0777, 0755, false, false, "place"},
        TrustCase{"folder_0757_others_write", true, 0757, 0755, false, false, "place"},
        TrustCase{"folder_1777_sticky", true, 01777, 0755, false, true, ""},
        TrustCase{"folder_1775_sticky", true, 01775, 0755, false, true, ""},
        TrustCase{"folder_0755_of_another_user", true, 0755, 0755, true, false, "place"},
        TrustCase{"file_0644", false, 0644, 0755, false, true, ""},
        TrustCase{"file_0664_group_writes", false, 0664, 0755, false, false, "place"},
        TrustCase{"file_0666_all_write", false, 0666, 0755, false, false, "place"},
        TrustCase{"file_1666_sticky_is_no_help", false, 01666, 0755, false, false, "place"},
        TrustCase{"file_0644_of_another_user", false, 0644, 0755, true, false, "place"},
        TrustCase{"holder_0777_lets_others_swap_it", true, 0755, 0777, false, false, "holder"},
        TrustCase{"holder_0775_lets_the_group_swap_it", true, 0755, 0775, false, false, "holder"},
        TrustCase{"holder_1777_sticky_keeps_it", true, 0755, 01777, false, true, ""}),
    [](const ::testing::TestParamInfo<TrustCase>& row) { return std::string(row.param.name); });

using FolderTrustPaths = testing::ProgramFolderTest;

TEST_F(FolderTrustPaths, AMissingNameCountsAsTheFolderThatWouldHoldIt) {
    fs::create_directories(folder() / "shared");
    ASSERT_EQ(::chmod((folder() / "shared").c_str(), 0777), 0);
    fs::create_directories(folder() / "own");

    EXPECT_FALSE(whyOthersCanChange((folder() / "own" / "absent" / "script.sh").string()));
    const std::optional<std::string> why =
        whyOthersCanChange((folder() / "shared" / "absent" / "script.sh").string());
    ASSERT_TRUE(why);
    EXPECT_NE(why->find(fs::canonical(folder() / "shared").string()), std::string::npos) << *why;
}

TEST_F(FolderTrustPaths, ALinkCountsAsWhatItLeadsTo) {
    fs::create_directories(folder() / "shared" / "iperf3");
    ASSERT_EQ(::chmod((folder() / "shared").c_str(), 0777), 0);
    fs::create_directories(folder() / "own");
    fs::create_directory_symlink(folder() / "shared" / "iperf3", folder() / "own" / "into-shared");
    fs::create_directory_symlink(folder() / "own", folder() / "own" / "into-own");

    EXPECT_TRUE(whyOthersCanChange((folder() / "own" / "into-shared").string()));
    EXPECT_FALSE(whyOthersCanChange((folder() / "own" / "into-own").string()));
}

TEST_F(FolderTrustPaths, TheCurrentFolderIsCheckedByARelativeName) {
    EXPECT_FALSE(whyOthersCanChange("."));
    ASSERT_EQ(::chmod(folder().c_str(), 0777), 0);
    const std::optional<std::string> why = whyOthersCanChange(".");
    ASSERT_TRUE(why);
    EXPECT_EQ(*why, "other users can write " + fs::canonical(folder()).string());
}

}  // namespace
}  // namespace kestova::platform
