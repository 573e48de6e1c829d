#include "platform/TlsChannel.h"

#include <utility>

namespace kestova::platform {

// TLS is not yet built for Windows: every start fails and says so, so that an https service is
// unreachable there and nothing meant for it goes out in clear.
namespace {
constexpr const char* kNotBuilt = "TLS is not yet built for this system";
}  // namespace

struct TlsChannel::State {};

TlsChannel::TlsChannel(std::unique_ptr<State> state) : state_(std::move(state)) {}
TlsChannel::~TlsChannel() = default;

TlsStart TlsChannel::connect(TcpSocket /*socket*/, const TlsClientSettings& /*settings*/,
                             std::chrono::steady_clock::time_point /*deadline*/) {
    return {nullptr, kNotBuilt};
}

IoStatus TlsChannel::sendAllBy(std::string_view /*bytes*/,
                               std::chrono::steady_clock::time_point /*deadline*/) {
    return IoStatus::Failed;
}

IoStatus TlsChannel::receiveSome(std::string& /*out*/, std::size_t /*maxBytes*/,
                                 std::chrono::milliseconds /*idleTimeout*/) {
    return IoStatus::Failed;
}

std::string TlsChannel::peerAddress() const {
    return {};
}

struct TlsServerIdentity::State {};

TlsServerIdentity::TlsServerIdentity(std::unique_ptr<State> state) : state_(std::move(state)) {}
TlsServerIdentity::TlsServerIdentity(TlsServerIdentity&&) noexcept = default;
TlsServerIdentity& TlsServerIdentity::operator=(TlsServerIdentity&&) noexcept = default;
TlsServerIdentity::~TlsServerIdentity() = default;

std::optional<TlsServerIdentity> TlsServerIdentity::load(const std::string& /*certificateFile*/,
                                                         const std::string& /*keyFile*/,
                                                         std::string& failure) {
    failure = kNotBuilt;
    return std::nullopt;
}

TlsStart TlsServerIdentity::accept(TcpSocket /*socket*/,
                                   std::chrono::steady_clock::time_point /*deadline*/) const {
    return {nullptr, kNotBuilt};
}

}  // namespace kestova::platform
