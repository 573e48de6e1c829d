#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/TcpSocket.h"

namespace kestova::platform {

// What a TLS client checks: the certificate chain against the system's trust store (or the
// authorities in a PEM file) and against the host, a name or a numeric address.
struct TlsClientSettings {
    std::string host;  // a name (also sent as the server name) or an IPv4 or IPv6 address
    std::optional<std::string> authorityFile;
};

class TlsChannel;

// A channel that stands, or why none does: one line for the run log.
struct TlsStart {
    std::unique_ptr<TlsChannel> channel;
    std::string failure;
};

// TLS 1.2 or 1.3 over a connected socket (OpenSSL here; on Windows not yet built: every start
// fails and says so). Every wait is bounded by the caller's deadline or time-out.
// Contract: one owner uses it from one thread at a time; it owns its socket.
class TlsChannel {
  public:
    // The client's handshake, within the deadline; a certificate that does not verify, a
    // handshake that fails or one that does not end in time give no channel.
    static TlsStart connect(TcpSocket socket, const TlsClientSettings& settings,
                            std::chrono::steady_clock::time_point deadline);

    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;
    ~TlsChannel();

    // As the socket's: every byte before the deadline, TimedOut when it passes first, Failed
    // when the connection breaks.
    IoStatus sendAllBy(std::string_view bytes, std::chrono::steady_clock::time_point deadline);
    // As the socket's: Closed once the peer has finished sending.
    IoStatus receiveSome(std::string& out, std::size_t maxBytes,
                         std::chrono::milliseconds idleTimeout);
    std::string peerAddress() const;

    struct State;
    explicit TlsChannel(std::unique_ptr<State> state);

  private:
    std::unique_ptr<State> state_;
};

// A server's certificate and key, for the local test service.
class TlsServerIdentity {
  public:
    // Nothing, and why, when the files do not load or do not match.
    static std::optional<TlsServerIdentity> load(const std::string& certificateFile,
                                                 const std::string& keyFile, std::string& failure);

    TlsServerIdentity(TlsServerIdentity&&) noexcept;
    TlsServerIdentity& operator=(TlsServerIdentity&&) noexcept;
    ~TlsServerIdentity();

    // The server's handshake on an accepted socket, within the deadline.
    TlsStart accept(TcpSocket socket, std::chrono::steady_clock::time_point deadline) const;

    struct State;

  private:
    explicit TlsServerIdentity(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace kestova::platform
