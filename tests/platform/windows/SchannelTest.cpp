// TLS through Schannel against peers on loopback that are no TLS service: each start fails within
// its deadline with the reason, and nothing the caller meant goes out. The handshakes with the
// Linux test service (trusted, untrusted, wrong name or address, expired, self-signed) run in
// scripts/windows.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/TcpSocket.h"
#include "platform/TextFile.h"
#include "platform/TlsChannel.h"
#include "support/ProgramFolderFixture.h"

namespace kestova::platform {
namespace {

using namespace std::chrono_literals;

enum class Peer { Silent, PlainHttp, ClosesAtOnce };

struct PeerCase {
    const char* name;
    Peer peer;
    const char* reason;  // in the start's failure
};

class SchannelStart : public ::testing::TestWithParam<PeerCase> {};

TEST_P(SchannelStart, FailsWithItsReasonAndNoChannel) {
    const PeerCase& c = GetParam();
    std::optional<TcpListener> listener = TcpListener::listenOnLoopback(0);
    ASSERT_TRUE(listener);
    std::string heard;
    std::thread peer([&] {
        std::optional<TcpSocket> connection = listener->accept(10s);
        ASSERT_TRUE(connection);
        if (c.peer == Peer::ClosesAtOnce) {
            return;
        }
        connection->receiveSome(heard, 4096, 10s);
        if (c.peer == Peer::PlainHttp) {
            connection->sendAll("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n", 10s);
            connection->shutdownSending();
        }
        // A silent peer holds the connection until the client has given up.
        std::string rest;
        while (connection->receiveSome(rest, 4096, 10s) == IoStatus::Ok) {
        }
    });
    std::optional<TcpSocket> socket = TcpSocket::open();
    ASSERT_TRUE(socket);
    ASSERT_EQ(socket->connect({"127.0.0.1", listener->port()}, 10s), IoStatus::Ok);
    TlsStart start = TlsChannel::connect(std::move(*socket), {"localhost", std::nullopt},
                                         std::chrono::steady_clock::now() + 2s);
    peer.join();
    EXPECT_EQ(start.channel, nullptr) << c.name;
    EXPECT_NE(start.failure.find(c.reason), std::string::npos) << c.name << ": " << start.failure;
    if (c.peer != Peer::ClosesAtOnce) {
        // What came was a TLS client's hello (a handshake record), naming the server.
        ASSERT_FALSE(heard.empty()) << c.name;
        EXPECT_EQ(heard[0], '\x16') << c.name;
        EXPECT_NE(heard.find("localhost"), std::string::npos) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Peers, SchannelStart,
    ::testing::Values(PeerCase{"silent", Peer::Silent, "did not end in time"},
                      PeerCase{"plain_http", Peer::PlainHttp, "TLS handshake failed"},
                      PeerCase{"closes_at_once", Peer::ClosesAtOnce, "TLS handshake failed"}),
    [](const auto& param) { return std::string(param.param.name); });

using SchannelAuthorities = testing::ProgramFolderTest;

// Authorities that cannot be read give no channel and name the file; nothing is sent.
TEST_F(SchannelAuthorities, AnUnreadableOrEmptyFileGivesNoChannel) {
    const std::string missing = (folder() / "missing.pem").string();
    const std::string empty = (folder() / "empty.pem").string();
    ASSERT_TRUE(writeWholeFile(empty, "no certificate here\n"));
    for (const std::string& file : {missing, empty}) {
        std::optional<TcpSocket> socket = TcpSocket::open();
        ASSERT_TRUE(socket);
        TlsStart start = TlsChannel::connect(std::move(*socket), {"localhost", file},
                                             std::chrono::steady_clock::now() + 2s);
        EXPECT_EQ(start.channel, nullptr) << file;
        EXPECT_NE(start.failure.find("the authorities in " + file + " could not be read"),
                  std::string::npos)
            << start.failure;
    }
}

}  // namespace
}  // namespace kestova::platform
