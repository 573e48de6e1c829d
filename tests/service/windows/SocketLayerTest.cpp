// On Windows each exchange starts the socket layer, and that can fail: the exchanges then take
// their way for a service that could not be asked.
#include <gtest/gtest.h>

#include <string>

#include "iperf/IperfCommandScripts.h"
#include "platform/windows/WinsockVersion.h"
#include "service/AddressLookup.h"
#include "service/ServerAssignment.h"
#include "service/VersionCheck.h"
#include "support/ProgramFolderFixture.h"
#include "support/ServiceReplies.h"
#include "tools/scripted_service/ScriptedService.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using tools::ScriptedService;
using tools::ScriptStep;

class SocketLayerNotStarted : public testing::ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        platform::requestSocketLayerVersion(0);  // a version Winsock does not offer
    }
    void TearDown() override {
        platform::requestSocketLayerVersion(0x0202);
        ProgramFolderTest::TearDown();
    }
};

TEST_F(SocketLayerNotStarted, TheAssignmentSaysSoAndWritesNoScript) {
    putFile(workspace::kHttpStatus, "old");
    ServerAssignmentState state;
    EXPECT_EQ(requestIperfServer(testing::loopbackEndpoint(1), state), AssignmentResult::Refused);
    // Written as a Windows text file: the line feed is stored as CR LF.
    EXPECT_EQ(fileBytes(workspace::kHttpStatus), "WSAStartup failed.\r\n");
    EXPECT_EQ(fileBytes(downloadScriptPath(0)), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "<missing>");
}

TEST_F(SocketLayerNotStarted, TheOtherExchangesCountTheServiceUnreachable) {
    getIpAddress(testing::loopbackEndpoint(1));
    EXPECT_EQ(fileBytes(workspace::kIpAddress), "error");
    EXPECT_EQ(checkClientVersion(testing::loopbackEndpoint(1)),
              VersionCheckResult::ServiceUnreachable);
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kErrorCode), "e001");
}

// Started again, the layer serves the next exchange: nothing of the failure stays.
TEST_F(SocketLayerNotStarted, TheNextExchangeStartsItAnew) {
    platform::requestSocketLayerVersion(0x0202);
    ScriptedService service({ScriptStep::send(testing::okReply("10.1.2.3"))});
    getIpAddress(testing::loopbackEndpoint(service.port()));
    EXPECT_EQ(fileBytes(workspace::kIpAddress), "10.1.2.3");
}

}  // namespace
}  // namespace kestova
