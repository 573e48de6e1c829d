#include "platform/TlsChannel.h"

// Schannel through SSPI (secur32), the certificates through CryptoAPI (crypt32); Winsock before
// the rest of the system's headers, which they build on.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <wincrypt.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "platform/windows/WideText.h"

namespace kestova::platform {

namespace {

using Clock = std::chrono::steady_clock;

// The largest TLS record and its framing: what one read from the socket asks for.
constexpr std::size_t kReadSize = 17 * 1024;

// The SSL policy's checks to leave out (wininet.h's SECURITY_FLAG_IGNORE_*, without WinINet).
constexpr DWORD kIgnoreUnknownAuthority = 0x00000100;
constexpr DWORD kIgnoreNameMismatch = 0x00001000;

constexpr DWORD kContextRequests = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                   ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                   ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;

struct StoreClose {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
struct CertificateFree {
    void operator()(const CERT_CONTEXT* certificate) const {
        CertFreeCertificateContext(certificate);
    }
};
struct ChainFree {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using Store = std::unique_ptr<void, StoreClose>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

std::string codeText(long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// SSPI's answers for a handshake that fails, as a run log says them.
std::string handshakeErrorText(SECURITY_STATUS status) {
    switch (status) {
        case SEC_E_ALGORITHM_MISMATCH:
            return "no protocol version or cipher in common (" + codeText(status) + ")";
        case SEC_E_ILLEGAL_MESSAGE:
            return "the service's answer is no TLS or an alert (" + codeText(status) + ")";
        case SEC_E_INTERNAL_ERROR:
            return "Schannel's internal error, as for a protocol version it does not speak (" +
                   codeText(status) + ")";
        default:
            return "error " + codeText(status);
    }
}

bool isIpAddress(const std::string& host) {
    return host.find(':') != std::string::npos ||
           host.find_first_not_of("0123456789.") == std::string::npos;
}

// The authorities of a PEM file in a store of their own, or nothing and why.
Store authoritiesFrom(const std::string& file, std::string& failure) {
    std::ifstream in(std::filesystem::path(toWide(file)), std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!in || !store) {
        failure = "the authorities in " + file + " could not be read: no such file";
        return nullptr;
    }
    static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    std::size_t added = 0;
    for (std::size_t begin = pem.find(kBegin); begin != std::string::npos;
         begin = pem.find(kBegin, begin + kBegin.size())) {
        const std::size_t end = pem.find(kEnd, begin);
        if (end == std::string::npos) {
            break;
        }
        const std::string block = pem.substr(begin, end + kEnd.size() - begin);
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            continue;
        }
        std::string der(size, '\0');
        if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                 CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()),
                                 &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                             reinterpret_cast<const BYTE*>(der.data()), size,
                                             CERT_STORE_ADD_ALWAYS, nullptr)) {
            ++added;
        }
    }
    if (added == 0) {
        failure = "the authorities in " + file + " could not be read: no certificate in it";
        return nullptr;
    }
    return store;
}

// Whether the certificate names the IPv4 or IPv6 address among its alternative names.
bool namesAddress(const CERT_CONTEXT& certificate, const std::string& address) {
    unsigned char wanted[16];
    std::size_t wantedSize = 0;
    if (InetPtonA(AF_INET, address.c_str(), wanted) == 1) {
        wantedSize = 4;
    } else if (InetPtonA(AF_INET6, address.c_str(), wanted) == 1) {
        wantedSize = 16;
    } else {
        return false;
    }
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate.pCertInfo->cExtension,
                          certificate.pCertInfo->rgExtension);
    if (extension == nullptr) {
        return false;
    }
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                             &size)) {
        return false;
    }
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                entry.IPAddress.cbData == wantedSize &&
                std::memcmp(entry.IPAddress.pbData, wanted, wantedSize) == 0;
    }
    LocalFree(names);
    return found;
}

std::string policyErrorText(DWORD error) {
    switch (error) {
        case static_cast<DWORD>(CERT_E_EXPIRED):
            return "certificate has expired or is not yet valid";
        case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
            return "its authority is not trusted (self-signed or unknown)";
        case static_cast<DWORD>(CERT_E_CHAINING):
            return "its issuer is unknown";
        case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
            return "hostname mismatch";
        case static_cast<DWORD>(CERT_E_WRONG_USAGE):
            return "it is not meant for a server";
        default:
            return "error " + codeText(static_cast<long>(error));
    }
}

// A root not among the system's: with an authority file, whether it is the file's is checked
// apart.
constexpr DWORD kUnknownRoot = CERT_TRUST_IS_UNTRUSTED_ROOT;
// Revocation is not asked for, so what is known of it is no verdict.
constexpr DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// Why a chain's error bits refuse it; empty when they do not.
std::string chainErrorText(DWORD errors) {
    errors &= ~kRevocationUnknown;
    if (errors == 0) {
        return {};
    }
    if ((errors & CERT_TRUST_IS_NOT_TIME_VALID) != 0) {
        return "certificate has expired or is not yet valid";
    }
    if ((errors & CERT_TRUST_IS_PARTIAL_CHAIN) != 0) {
        return "its issuer is unknown, its authority is not trusted";
    }
    if ((errors & CERT_TRUST_IS_UNTRUSTED_ROOT) != 0) {
        return "its authority is not trusted (self-signed or unknown)";
    }
    if ((errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0) {
        return "it is not meant for a server";
    }
    return "chain error " + codeText(static_cast<long>(errors));
}

// The service's certificate against the trusted authorities (the system's, or those of the file
// alone) and against the host; the reason when it does not verify.
std::string verifyService(const CERT_CONTEXT& certificate, const TlsClientSettings& settings,
                          HCERTSTORE authorities) {
    // The chain is built from what the service sent and, with a file, the file's authorities.
    Store candidates(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (!candidates || !CertAddStoreToCollection(candidates.get(), certificate.hCertStore, 0, 0) ||
        (authorities != nullptr &&
         !CertAddStoreToCollection(candidates.get(), authorities, 0, 0))) {
        return "the service's certificate could not be checked: no store";
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainParameters{};
    chainParameters.cbSize = sizeof chainParameters;
    chainParameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainParameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainParameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    const CERT_CHAIN_CONTEXT* built = nullptr;
    if (!CertGetCertificateChain(nullptr, &certificate, nullptr, candidates.get(), &chainParameters,
                                 0, nullptr, &built)) {
        return "the service's certificate could not be checked: error " +
               codeText(static_cast<long>(GetLastError()));
    }
    const Chain chain(built);
    if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
        return "the service's certificate could not be checked: no chain";
    }

    // The chain's own verdict first: the SSL policy alone (Wine's) passes a chain that stops
    // short of any trusted root.
    const std::string chainFailure = chainErrorText(chain->TrustStatus.dwErrorStatus &
                                                    ~(authorities != nullptr ? kUnknownRoot : 0));
    if (!chainFailure.empty()) {
        return "the service's certificate did not verify: " + chainFailure;
    }

    const bool address = isIpAddress(settings.host);
    std::wstring serverName = toWide(settings.host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = serverName.data();
    // An address is compared with the certificate's address entries below.
    ssl.fdwChecks = (address ? kIgnoreNameMismatch : 0) |
                    (authorities != nullptr ? kIgnoreUnknownAuthority : 0);
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    // With a file its root is not the system's: whether it is the file's is checked below.
    policy.dwFlags = authorities != nullptr ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
        return "the service's certificate could not be checked: error " +
               codeText(static_cast<long>(GetLastError()));
    }
    if (status.dwError != 0) {
        return "the service's certificate did not verify: " + policyErrorText(status.dwError);
    }
    if (address && !namesAddress(certificate, settings.host)) {
        return "the service's certificate did not verify: IP address mismatch";
    }
    if (authorities != nullptr) {
        const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
        const CERT_CONTEXT* root = simple.rgpElement[simple.cElement - 1]->pCertContext;
        const Certificate trusted(CertFindCertificateInStore(authorities, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, root, nullptr));
        const bool selfSigned = (simple.rgpElement[simple.cElement - 1]->TrustStatus.dwInfoStatus &
                                 CERT_TRUST_IS_SELF_SIGNED) != 0;
        if (!trusted || !selfSigned) {
            return "the service's certificate did not verify: its authority is not among those "
                   "in " +
                   *settings.authorityFile;
        }
    }
    return {};
}

// SSPI's handles, released once.
struct CredentialsHandle {
    CredHandle handle{};
    bool held = false;
    CredentialsHandle() = default;
    CredentialsHandle(const CredentialsHandle&) = delete;
    CredentialsHandle& operator=(const CredentialsHandle&) = delete;
    ~CredentialsHandle() {
        if (held) {
            FreeCredentialsHandle(&handle);
        }
    }
};

struct ContextHandle {
    CtxtHandle handle{};
    bool held = false;
    ContextHandle() = default;
    ContextHandle(const ContextHandle&) = delete;
    ContextHandle& operator=(const ContextHandle&) = delete;
    ~ContextHandle() {
        if (held) {
            DeleteSecurityContext(&handle);
        }
    }
};

// TLS 1.2 and 1.3 only, no client certificate, the service's certificate checked here.
SECURITY_STATUS acquireClientCredentials(CredentialsHandle& credentials) {
    SECURITY_STATUS status = SEC_E_UNSUPPORTED_FUNCTION;
    for (const DWORD protocols : {static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT),
                                  static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT)}) {
        SCHANNEL_CRED settings{};
        settings.dwVersion = SCHANNEL_CRED_VERSION;
        settings.grbitEnabledProtocols = protocols;
        settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        wchar_t package[] = UNISP_NAME_W;
        status =
            AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &settings,
                                      nullptr, nullptr, &credentials.handle, nullptr);
        if (status == SEC_E_OK) {
            credentials.held = true;
            return status;
        }
    }
    return status;
}

// What the time left before the deadline allows one wait on the socket.
std::chrono::milliseconds leftUntil(Clock::time_point deadline) {
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
}

}  // namespace

struct TlsChannel::State {
    explicit State(TcpSocket connected) : socket(std::move(connected)) {}

    TcpSocket socket;
    CredentialsHandle credentials;  // declared before the context, so it outlives it
    ContextHandle context;
    std::wstring serverName;  // the name sent to the service; empty for an address
    SecPkgContext_StreamSizes sizes{};
    std::string incoming;  // received, not yet decrypted
    std::string plain;     // decrypted, not yet handed out
    bool closed = false;   // the service said it has finished sending
};

namespace {

// Hands a token SSPI made to the service and releases it.
IoStatus sendToken(TlsChannel::State& state, SecBuffer& token, Clock::time_point deadline) {
    IoStatus status = IoStatus::Ok;
    if (token.pvBuffer != nullptr) {
        if (token.cbBuffer > 0) {
            status = state.socket.sendAllBy(
                std::string_view(static_cast<const char*>(token.pvBuffer), token.cbBuffer),
                deadline);
        }
        FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
    }
    return status;
}

// Reads more of the service's bytes within the deadline.
IoStatus receiveMore(TlsChannel::State& state, Clock::time_point deadline) {
    const std::chrono::milliseconds left = leftUntil(deadline);
    if (left.count() <= 0) {
        return IoStatus::TimedOut;
    }
    return state.socket.receiveSome(state.incoming, kReadSize, left);
}

// Runs the handshake's steps (the first, or those a renegotiation asks for) until the context
// stands; the reason when it does not.
std::string driveHandshake(TlsChannel::State& state, Clock::time_point deadline, bool first) {
    for (;;) {
        if (!first && state.incoming.empty()) {
            const IoStatus received = receiveMore(state, deadline);
            if (received == IoStatus::TimedOut) {
                return "the TLS handshake did not end in time";
            }
            if (received != IoStatus::Ok) {
                return "the TLS handshake failed: the connection closed during it";
            }
        }
        SecBuffer in[2] = {{static_cast<unsigned long>(state.incoming.size()), SECBUFFER_TOKEN,
                            state.incoming.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDescription{SECBUFFER_VERSION, 1, out};
        unsigned long granted = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &state.credentials.handle, first ? nullptr : &state.context.handle,
            state.serverName.empty() ? nullptr : state.serverName.data(), kContextRequests, 0, 0,
            first ? nullptr : &inDescription, 0, first ? &state.context.handle : nullptr,
            &outDescription, &granted, nullptr);
        if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
            state.context.held = true;
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            sendToken(state, out[0], deadline);
            const IoStatus received = receiveMore(state, deadline);
            if (received == IoStatus::TimedOut) {
                return "the TLS handshake did not end in time";
            }
            if (received != IoStatus::Ok) {
                return "the TLS handshake failed: the connection closed during it";
            }
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED &&
            status != SEC_I_INCOMPLETE_CREDENTIALS) {
            sendToken(state, out[0], deadline);  // the alert, when SSPI made one
            return "the TLS handshake failed: " + handshakeErrorText(status);
        }
        const IoStatus sent = sendToken(state, out[0], deadline);
        if (sent == IoStatus::TimedOut) {
            return "the TLS handshake did not end in time";
        }
        if (sent != IoStatus::Ok) {
            return "the TLS handshake failed: the connection closed during it";
        }
        if (!first) {
            // What SSPI did not read belongs to the next step, or after the handshake to the
            // channel's first records.
            state.incoming = in[1].BufferType == SECBUFFER_EXTRA
                                 ? state.incoming.substr(state.incoming.size() - in[1].cbBuffer)
                                 : std::string{};
        }
        first = false;
        if (status == SEC_E_OK) {
            return {};
        }
    }
}

bool negotiatedTls12OrLater(TlsChannel::State& state) {
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesW(&state.context.handle, SECPKG_ATTR_CONNECTION_INFO, &connection) !=
        SEC_E_OK) {
        return false;
    }
    return (connection.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) != 0;
}

}  // namespace

TlsChannel::TlsChannel(std::unique_ptr<State> state) : state_(std::move(state)) {}

TlsChannel::~TlsChannel() = default;

TlsStart TlsChannel::connect(TcpSocket socket, const TlsClientSettings& settings,
                             Clock::time_point deadline) {
    std::string failure;
    Store authorities;
    if (settings.authorityFile) {
        authorities = authoritiesFrom(*settings.authorityFile, failure);
        if (!authorities) {
            return {nullptr, failure};
        }
    }
    auto state = std::make_unique<State>(std::move(socket));
    const SECURITY_STATUS acquired = acquireClientCredentials(state->credentials);
    if (acquired != SEC_E_OK) {
        return {nullptr, "TLS could not be set up: error " + codeText(acquired)};
    }
    // A name is sent as the server's name; an address is not.
    if (!isIpAddress(settings.host)) {
        state->serverName = toWide(settings.host);
    }
    failure = driveHandshake(*state, deadline, true);
    if (!failure.empty()) {
        return {nullptr, failure};
    }
    const CERT_CONTEXT* remote = nullptr;
    if (QueryContextAttributesW(&state->context.handle, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
            SEC_E_OK ||
        remote == nullptr) {
        return {nullptr, "the service's certificate did not verify: it sent none"};
    }
    const Certificate certificate(remote);
    failure = verifyService(*certificate, settings, authorities.get());
    if (!failure.empty()) {
        return {nullptr, failure};
    }
    if (!negotiatedTls12OrLater(*state)) {
        return {nullptr, "the TLS handshake failed: the service offers no TLS 1.2 or later"};
    }
    if (QueryContextAttributesW(&state->context.handle, SECPKG_ATTR_STREAM_SIZES, &state->sizes) !=
            SEC_E_OK ||
        state->sizes.cbMaximumMessage == 0) {
        return {nullptr, "TLS could not be set up: no record sizes"};
    }
    return {std::make_unique<TlsChannel>(std::move(state)), {}};
}

IoStatus TlsChannel::sendAllBy(std::string_view bytes, Clock::time_point deadline) {
    const SecPkgContext_StreamSizes& sizes = state_->sizes;
    while (!bytes.empty()) {
        const std::size_t length = std::min<std::size_t>(bytes.size(), sizes.cbMaximumMessage);
        std::string record(sizes.cbHeader + length + sizes.cbTrailer, '\0');
        std::memcpy(record.data() + sizes.cbHeader, bytes.data(), length);
        SecBuffer parts[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(length), SECBUFFER_DATA, record.data() + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + length},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description{SECBUFFER_VERSION, 4, parts};
        if (EncryptMessage(&state_->context.handle, 0, &description, 0) != SEC_E_OK) {
            return IoStatus::Failed;
        }
        // The trailer follows the data in place; it may be shorter than its room.
        const std::size_t total = parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer;
        const IoStatus sent =
            state_->socket.sendAllBy(std::string_view(record.data(), total), deadline);
        if (sent != IoStatus::Ok) {
            return sent;
        }
        bytes.remove_prefix(length);
    }
    return IoStatus::Ok;
}

IoStatus TlsChannel::receiveSome(std::string& out, std::size_t maxBytes,
                                 std::chrono::milliseconds idleTimeout) {
    const Clock::time_point deadline = Clock::now() + idleTimeout;
    State& state = *state_;
    for (;;) {
        if (!state.plain.empty()) {
            const std::size_t taken = std::min(maxBytes, state.plain.size());
            out.append(state.plain, 0, taken);
            state.plain.erase(0, taken);
            return IoStatus::Ok;
        }
        if (state.closed) {
            return IoStatus::Closed;
        }
        if (!state.incoming.empty()) {
            SecBuffer parts[4] = {{static_cast<unsigned long>(state.incoming.size()),
                                   SECBUFFER_DATA, state.incoming.data()},
                                  {0, SECBUFFER_EMPTY, nullptr},
                                  {0, SECBUFFER_EMPTY, nullptr},
                                  {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc description{SECBUFFER_VERSION, 4, parts};
            const SECURITY_STATUS status =
                DecryptMessage(&state.context.handle, &description, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE ||
                status == SEC_I_CONTEXT_EXPIRED) {
                std::string extra;
                for (const SecBuffer& part : parts) {
                    if (part.BufferType == SECBUFFER_DATA && part.pvBuffer != nullptr) {
                        state.plain.append(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
                    } else if (part.BufferType == SECBUFFER_EXTRA && part.pvBuffer != nullptr) {
                        extra.assign(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
                    }
                }
                state.incoming = std::move(extra);
                if (status == SEC_I_CONTEXT_EXPIRED) {
                    state.closed = true;  // the service's closing message
                } else if (status == SEC_I_RENEGOTIATE &&
                           !driveHandshake(state, deadline, false).empty()) {
                    // A message after the handshake (a TLS 1.3 session ticket) goes back to
                    // SSPI; one that fails ends the channel.
                    return IoStatus::Failed;
                }
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                return IoStatus::Failed;
            }
        }
        const IoStatus received = receiveMore(state, deadline);
        if (received == IoStatus::Closed) {
            // The peer closed without its closing message: the end of what it sent.
            state.closed = true;
            continue;
        }
        if (received != IoStatus::Ok) {
            return received;
        }
    }
}

std::string TlsChannel::peerAddress() const {
    return state_->socket.peerAddress();
}

// The local test service runs on Linux: no server side here.
namespace {
constexpr const char* kNoServer = "a TLS server is not built for this system";
}  // namespace

struct TlsServerIdentity::State {};

TlsServerIdentity::TlsServerIdentity(std::unique_ptr<State> state) : state_(std::move(state)) {}
TlsServerIdentity::TlsServerIdentity(TlsServerIdentity&&) noexcept = default;
TlsServerIdentity& TlsServerIdentity::operator=(TlsServerIdentity&&) noexcept = default;
TlsServerIdentity::~TlsServerIdentity() = default;

std::optional<TlsServerIdentity> TlsServerIdentity::load(const std::string& /*certificateFile*/,
                                                         const std::string& /*keyFile*/,
                                                         std::string& failure) {
    failure = kNoServer;
    return std::nullopt;
}

TlsStart TlsServerIdentity::accept(TcpSocket /*socket*/, Clock::time_point /*deadline*/) const {
    return {nullptr, kNoServer};
}

}  // namespace kestova::platform
