#include "service/AddressLookup.h"

#include <gtest/gtest.h>

#include "platform/SystemSpelling.h"
#include "support/ProgramFolderFixture.h"
#include "support/ServiceReplies.h"
#include "tools/scripted_service/ScriptedService.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using testing::loopbackEndpoint;
using testing::okReply;
using tools::ScriptedService;
using tools::ScriptStep;

using AddressLookup = testing::ProgramFolderTest;

TEST_F(AddressLookup, KeepsTheBodyBytesExactly) {
    // An IPv6 address up to its longest text (45 characters) stays whole.
    for (const std::string body : {"203.0.113.9", "203.0.113.9\r\n", "", "2001:db8::1",
                                   "0000:0000:0000:0000:0000:ffff:255.255.255.255"}) {
        ScriptedService service({ScriptStep::send(okReply(body))});
        getIpAddress(loopbackEndpoint(service.port()));
        EXPECT_EQ(fileBytes(workspace::kIpAddress), platform::asStoredText(body));
    }
}

TEST_F(AddressLookup, AnUnreachableServiceReplacesTheAddressByError) {
    ScriptedService service({ScriptStep::send(okReply("203.0.113.9"))});
    getIpAddress(loopbackEndpoint(service.port()));
    getIpAddress(testing::unresolvableEndpoint());
    EXPECT_EQ(fileBytes(workspace::kIpAddress), "error");
}

}  // namespace
}  // namespace kestova
