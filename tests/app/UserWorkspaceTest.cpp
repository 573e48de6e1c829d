// Where the program works: the program folder when its user may write it, else that user's own
// workspace, made and kept up to the installed program; --workdir wins. The program runs as an
// unprivileged user (nobody), for whom a folder root made is as read-only as a system install.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitStatus.h"
#include "app/ProgramUnderTest.h"
#include "platform/TextFile.h"
#include "support/IperfServer.h"
#include "support/RunningTestService.h"
#include "support/WaitUntil.h"
#include "tools/scripted_service/ScriptedService.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// Gives the folder and everything in it to nobody.
void giveToNobody(const fs::path& folder) {
    ASSERT_EQ(::lchown(folder.c_str(), kNobody, kNogroup), 0) << folder;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNogroup), 0) << entry.path();
    }
}

// Every file of the folder and its bytes.
std::map<fs::path, std::string> filesOf(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[entry.path()] = platform::readWholeFile(entry.path().string()).value_or("");
        }
    }
    return files;
}

class UserWorkspace : public testing::ProgramUnderTest {
  protected:
    void SetUp() override {
        ProgramUnderTest::SetUp();
        ASSERT_EQ(::geteuid(), 0U) << "runs the program as nobody, which needs root";
        // Made for root alone; nobody must reach the program in it, as in a system install.
        fs::permissions(folder(),
                        fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec,
                        fs::perm_options::add);
        home_ = folder() / "home";
        fs::create_directory(home_);
        giveToNobody(home_);
    }

    // Runs the program as nobody with only these environment variables (and PATH); its exit
    // status, with standard output and error in output.txt.
    int runAsNobody(const std::vector<std::string>& environment, const std::string& arguments) {
        std::string command =
            "timeout 300 setpriv --reuid=65534 --regid=65534 --clear-groups "
            "env -i PATH=/usr/bin:/bin";
        for (const std::string& variable : environment) {
            command += " '" + variable + "'";
        }
        command += " " + (folder() / "kestova-speedtest").string() + " " + arguments + " > " +
                   (folder() / "output.txt").string() + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path defaultWorkspace() const { return home_ / ".local/share/kestova-speedtest"; }
    const fs::path& home() const { return home_; }

  private:
    fs::path home_;
};

// What stands in a workspace before the program runs.
enum class Earlier {
    Nothing,
    OlderVersion,  // an earlier installed version's pages, its history and a file of the user's
    SameVersion    // this version's, with a page the user changed and one missing
};

struct ChoiceCase {
    const char* name;
    bool programFolderWritable;
    std::optional<const char*> xdgDataHome;  // relative to the home when it starts with "home/"
    bool workdir;
    Earlier earlier;
    const char* expected;  // "program", "given", "default" or "xdg"
};

class WorkspaceChoice : public UserWorkspace, public ::testing::WithParamInterface<ChoiceCase> {};

constexpr const char* kOldHistory = "time,download,upload\nan earlier test's line\n";

// Fills the workspace as an earlier run of the program left it.
void leaveEarlierWorkspace(const fs::path& workspace, Earlier earlier,
                           const std::string& installedVersion) {
    const auto put = [&workspace](const std::string& name, const std::string& bytes) {
        fs::create_directories((workspace / name).parent_path());
        ASSERT_TRUE(platform::writeWholeFile((workspace / name).string(), bytes));
    };
    if (earlier == Earlier::OlderVersion) {
        put(workspace::kLocalVersion, "0.9.0");
        put(workspace::kIndexPage, "an older version's page");
        put(workspace::kIperfParameters, "-P 4");
        put(workspace::kHistory, kOldHistory);
        put("speedTest/mine.txt", "the user's own");
    } else if (earlier == Earlier::SameVersion) {
        put(workspace::kLocalVersion, installedVersion);
        put(workspace::kIndexPage, "a page the user changed");
        put(workspace::kHistory, kOldHistory);
    }
}

// The program runs against a service nobody answers: start-up and Start write the workspace's
// status files, the test fails at once (status 1) and --help names the same workspace.
TEST_P(WorkspaceChoice, TheProgramWorksWhereItShould) {
    const ChoiceCase& c = GetParam();
    const std::string installedVersion = fileBytes(workspace::kLocalVersion);
    const fs::path xdg = c.xdgDataHome && std::string(*c.xdgDataHome).starts_with("home/")
                             ? home() / std::string(*c.xdgDataHome).substr(5)
                             : fs::path(c.xdgDataHome.value_or(""));
    const fs::path given = folder() / "given";
    const std::map<std::string, fs::path> places = {{"program", folder()},
                                                    {"given", given},
                                                    {"default", defaultWorkspace()},
                                                    {"xdg", xdg / "kestova-speedtest"}};
    const fs::path expected = places.at(c.expected);
    if (c.programFolderWritable) {
        giveToNobody(folder());
    }
    if (c.workdir) {
        fs::create_directories(given / "speedTest");
        giveToNobody(given);
    }
    leaveEarlierWorkspace(expected, c.earlier, installedVersion);
    giveToNobody(home());

    std::vector<std::string> environment = {"HOME=" + home().string()};
    if (c.xdgDataHome) {
        environment.push_back("XDG_DATA_HOME=" + xdg.string());
    }
    const std::string workdir = c.workdir ? "--workdir " + given.string() + " " : "";
    ASSERT_EQ(runAsNobody(environment, workdir + "--help"), 0) << fileBytes("output.txt");
    EXPECT_NE(fileBytes("output.txt").find("Workspace in use: " + expected.string() + "\n"),
              std::string::npos)
        << fileBytes("output.txt");

    const std::string service =
        "--service 127.0.0.1:" + std::to_string(testing::freeLoopbackPort());
    EXPECT_EQ(runAsNobody(environment, workdir + "--no-window --short-pauses " + service), 1)
        << fileBytes("output.txt");

    // Start-up and the failed test wrote there, and nowhere else.
    const auto in = [&expected](const std::string& name) {
        return fileBytes((expected / name).string());
    };
    EXPECT_EQ(in(workspace::kErrorCode), "e001") << fileBytes("output.txt");
    EXPECT_EQ(in(workspace::kVersionStatus), "2");
    for (const auto& [name, place] : places) {
        if (place != expected) {
            EXPECT_EQ(fileBytes((place / workspace::kErrorCode).string()), "<missing>") << name;
        }
    }
    if (std::string(c.expected) == "program" || std::string(c.expected) == "given") {
        return;
    }
    // A user's own workspace: nobody's, for nobody alone when made, with the installed files
    // (but for a page the user changed in this version) and a client that runs the installed one.
    struct stat made {};
    ASSERT_EQ(::stat(expected.c_str(), &made), 0);
    EXPECT_EQ(made.st_uid, kNobody);
    if (c.earlier == Earlier::Nothing) {
        EXPECT_EQ(made.st_mode & 07777, 0700U);
    }
    for (const char* name : workspace::kInstalledFiles) {
        if (c.earlier == Earlier::SameVersion && name == std::string(workspace::kIndexPage)) {
            EXPECT_EQ(in(name), "a page the user changed");
        } else {
            EXPECT_EQ(in(name), fileBytes(name)) << name;
        }
    }
    EXPECT_EQ(in(workspace::kLocalVersion), installedVersion);
    EXPECT_EQ(fs::read_symlink(expected / workspace::kIperfClient),
              folder() / workspace::kIperfClient);
    if (c.earlier != Earlier::Nothing) {
        EXPECT_TRUE(in(workspace::kHistory).starts_with(kOldHistory)) << in(workspace::kHistory);
    }
    if (c.earlier == Earlier::OlderVersion) {
        EXPECT_EQ(in("speedTest/mine.txt"), "the user's own");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkspaceChoice,
    ::testing::Values(
        ChoiceCase{"writable_program_folder", true, std::nullopt, false, Earlier::Nothing,
                   "program"},
        ChoiceCase{"read_only_program_folder", false, std::nullopt, false, Earlier::Nothing,
                   "default"},
        ChoiceCase{"xdg_data_home", false, "home/data", false, Earlier::Nothing, "xdg"},
        ChoiceCase{"relative_xdg_data_home", false, "data", false, Earlier::Nothing, "default"},
        ChoiceCase{"empty_xdg_data_home", false, "", false, Earlier::Nothing, "default"},
        ChoiceCase{"workdir_over_a_read_only_program_folder", false, "home/data", true,
                   Earlier::Nothing, "given"},
        ChoiceCase{"workdir_over_a_writable_program_folder", true, std::nullopt, true,
                   Earlier::Nothing, "given"},
        ChoiceCase{"older_installed_version", false, std::nullopt, false, Earlier::OlderVersion,
                   "default"},
        ChoiceCase{"same_installed_version", false, std::nullopt, false, Earlier::SameVersion,
                   "default"}),
    [](const auto& param) { return std::string(param.param.name); });

// A program installed for the system (root's folder) run by a user: a whole test against real
// iperf3 servers in the user's own workspace, with its one history line; the program folder keeps
// its bytes.
TEST_F(UserWorkspace, AProgramInstalledForTheSystemRunsAWholeTestInTheUsersOwnWorkspace) {
    testing::IperfServer first;
    testing::IperfServer second;
    testing::RunningTestService service(grantingServers({&first, &second}));
    const std::map<fs::path, std::string> installed = filesOf(folder() / "speedTest");

    EXPECT_EQ(
        runAsNobody({"HOME=" + home().string()}, "--no-window --short-pauses --service 127.0.0.1:" +
                                                     std::to_string(service.port())),
        0)
        << fileBytes("output.txt");

    const fs::path own = defaultWorkspace();
    const std::regex summary(
        R"(Server IP=127\.0\.0\.1,127\.0\.0\.1, Server Port=\d+,\d+, downloadResult=[0-9.]+Mbps, uploadResult=[0-9.]+Mbps)");
    const std::string final = fileBytes((own / workspace::kFinal).string());
    EXPECT_TRUE(std::regex_match(final, summary)) << final;
    EXPECT_EQ(fileBytes((own / workspace::kDownloadStatus).string()), "2");
    EXPECT_EQ(fileBytes((own / workspace::kUploadStatus).string()), "2");
    const std::vector<std::string> history =
        platform::splitLines(fileBytes((own / workspace::kHistory).string()));
    EXPECT_EQ(history.size(), 2U) << "a header and this test's line";
    EXPECT_EQ(filesOf(folder() / "speedTest"), installed);
}

using WorkspaceLock = testing::ProgramUnderTest;

// While a program holds the workspace (its version check held by the service), a second one
// without a window ends at once with status 4, naming the workspace, and never asks the service;
// once the holder is killed, the lock has gone with it and a program runs there again.
TEST_F(WorkspaceLock, ASecondProgramEndsWithStatusFourUntilTheHolderIsKilled) {
    tools::ScriptedService service({tools::ScriptStep::hang()});
    const std::string serviceOption =
        "--short-pauses --service 127.0.0.1:" + std::to_string(service.port());
    const int holder = spawnProgram(serviceOption);
    ASSERT_TRUE(test::waitUntil([&] { return !service.requests().empty(); }, 30s))
        << fileBytes("runlog.txt");

    EXPECT_EQ(runProgramApart(serviceOption), kExitWorkspaceTaken);
    EXPECT_EQ(fileBytes("stderr.txt"), "kestova-speedtest: a test is already running in " +
                                           fs::canonical(folder()).string() + "\n");
    EXPECT_EQ(fileBytes("stdout.txt"), "");
    EXPECT_EQ(service.requests().size(), 1U);

    ::kill(holder, SIGKILL);
    EXPECT_EQ(exitStatusOf(holder, 10s), std::optional<int>(-SIGKILL));
    const std::string unanswered =
        "--short-pauses --service 127.0.0.1:" + std::to_string(testing::freeLoopbackPort());
    EXPECT_EQ(runProgramApart(unanswered), 1) << fileBytes("stderr.txt");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
}

}  // namespace
}  // namespace kestova
