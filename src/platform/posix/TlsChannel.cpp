#include "platform/TlsChannel.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "platform/posix/SocketWait.h"

namespace kestova::platform {

// The descriptor under a socket, for the channel's own reads and writes.
struct TlsSocketAccess {
    static int descriptor(const TcpSocket& socket) { return socket.fd_; }
};

namespace {

using Clock = std::chrono::steady_clock;

struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using Context = std::unique_ptr<SSL_CTX, ContextFree>;
using Session = std::unique_ptr<SSL, SslFree>;

// The channel's bytes go through send and recv on the descriptor, so that a closed peer never
// raises SIGPIPE (OpenSSL's own socket BIO writes without MSG_NOSIGNAL).
int descriptorOf(BIO* bio) {
    return *static_cast<const int*>(BIO_get_data(bio));
}

int bioWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t sent =
        ::send(descriptorOf(bio), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_write(bio);
    }
    return static_cast<int>(sent);
}

int bioRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t received = ::recv(descriptorOf(bio), data, static_cast<std::size_t>(length), 0);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        BIO_set_retry_read(bio);
    }
    return static_cast<int>(received);
}

long bioControl(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

// One method for the process, made on first use and kept for its life.
const BIO_METHOD* socketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kestova socket");
        if (made != nullptr) {
            BIO_meth_set_write(made, bioWrite);
            BIO_meth_set_read(made, bioRead);
            BIO_meth_set_ctrl(made, bioControl);
            BIO_meth_set_create(made, bioCreate);
        }
        return made;
    }();
    return method;
}

std::string lastErrorText(const char* fallback) {
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    if (error == 0) {
        return fallback;
    }
    const char* reason = ERR_reason_error_string(error);
    return reason != nullptr ? reason : fallback;
}

// Waits for what OpenSSL asked for; false when the deadline passed first.
bool waitForWhatIsWanted(int fd, int wanted, Clock::time_point deadline) {
    return waitForSocket(fd, wanted == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, deadline);
}

bool isIpAddress(const std::string& host) {
    return host.find(':') != std::string::npos ||
           host.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

struct TlsChannel::State {
    TcpSocket socket;
    int fd = -1;  // the socket's, read by the BIO
    Context context;
    Session ssl;
};

TlsChannel::TlsChannel(std::unique_ptr<State> state) : state_(std::move(state)) {}

TlsChannel::~TlsChannel() = default;

namespace {

// Starts the handshake's state over the socket; the failure text when OpenSSL refuses.
std::unique_ptr<TlsChannel::State> newState(TcpSocket socket, Context context,
                                            std::string& failure) {
    auto state = std::make_unique<TlsChannel::State>(
        TlsChannel::State{std::move(socket), -1, std::move(context), nullptr});
    state->fd = TlsSocketAccess::descriptor(state->socket);
    state->ssl.reset(SSL_new(state->context.get()));
    BIO* bio = socketMethod() != nullptr ? BIO_new(socketMethod()) : nullptr;
    if (!state->ssl || bio == nullptr) {
        BIO_free(bio);
        failure = "TLS could not be set up: " + lastErrorText("no memory");
        return nullptr;
    }
    BIO_set_data(bio, &state->fd);
    SSL_set_bio(state->ssl.get(), bio, bio);
    SSL_set_mode(state->ssl.get(),
                 SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return state;
}

// Drives the handshake until it ends or the deadline passes.
TlsStart handshake(std::unique_ptr<TlsChannel::State> state, Clock::time_point deadline,
                   bool client) {
    for (;;) {
        ERR_clear_error();
        const int result = client ? SSL_connect(state->ssl.get()) : SSL_accept(state->ssl.get());
        if (result == 1) {
            return {std::make_unique<TlsChannel>(std::move(state)), {}};
        }
        const int error = SSL_get_error(state->ssl.get(), result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!waitForWhatIsWanted(state->fd, error, deadline)) {
                return {nullptr, "the TLS handshake did not end in time"};
            }
            continue;
        }
        const long verified = SSL_get_verify_result(state->ssl.get());
        if (client && verified != X509_V_OK) {
            ERR_clear_error();
            return {nullptr, std::string("the service's certificate did not verify: ") +
                                 X509_verify_cert_error_string(verified)};
        }
        return {nullptr,
                "the TLS handshake failed: " + lastErrorText("the connection closed during it")};
    }
}

Context clientContext(const TlsClientSettings& settings, std::string& failure) {
    Context context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        failure = "TLS could not be set up: " + lastErrorText("no memory");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    const bool trusted = settings.authorityFile
                             ? SSL_CTX_load_verify_locations(
                                   context.get(), settings.authorityFile->c_str(), nullptr) == 1
                             : SSL_CTX_set_default_verify_paths(context.get()) == 1;
    if (!trusted) {
        failure = settings.authorityFile
                      ? "the authorities in " + *settings.authorityFile +
                            " could not be read: " + lastErrorText("no file")
                      : "the system's trust store could not be read: " + lastErrorText("none");
        return nullptr;
    }
    return context;
}

}  // namespace

TlsStart TlsChannel::connect(TcpSocket socket, const TlsClientSettings& settings,
                             Clock::time_point deadline) {
    std::string failure;
    Context context = clientContext(settings, failure);
    if (!context) {
        return {nullptr, failure};
    }
    std::unique_ptr<State> state = newState(std::move(socket), std::move(context), failure);
    if (!state) {
        return {nullptr, failure};
    }
    SSL* ssl = state->ssl.get();
    X509_VERIFY_PARAM* check = SSL_get0_param(ssl);
    // A name is checked as a name and sent as the server's name; an address as an address.
    if (isIpAddress(settings.host)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(check, settings.host.c_str()) != 1) {
            return {nullptr, "the service's address " + settings.host + " is no IP address"};
        }
    } else {
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (X509_VERIFY_PARAM_set1_host(check, settings.host.c_str(), 0) != 1 ||
            // SSL_set_tlsext_host_name, without the macro's C cast.
            SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(settings.host.c_str())) != 1) {
            return {nullptr, "the service's name " + settings.host + " cannot be checked"};
        }
    }
    return handshake(std::move(state), deadline, true);
}

IoStatus TlsChannel::sendAllBy(std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        ERR_clear_error();
        const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
        const int written = SSL_write(state_->ssl.get(), bytes.data(), length);
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        const int error = SSL_get_error(state_->ssl.get(), written);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return IoStatus::Failed;
        }
        if (!waitForWhatIsWanted(state_->fd, error, deadline)) {
            return IoStatus::TimedOut;
        }
    }
    return IoStatus::Ok;
}

IoStatus TlsChannel::receiveSome(std::string& out, std::size_t maxBytes,
                                 std::chrono::milliseconds idleTimeout) {
    const Clock::time_point deadline = Clock::now() + idleTimeout;
    for (;;) {
        ERR_clear_error();
        const std::size_t oldSize = out.size();
        out.resize(oldSize + maxBytes);
        const int length = static_cast<int>(std::min<std::size_t>(maxBytes, INT_MAX));
        const int received = SSL_read(state_->ssl.get(), out.data() + oldSize, length);
        out.resize(oldSize + (received > 0 ? static_cast<std::size_t>(received) : 0));
        if (received > 0) {
            return IoStatus::Ok;
        }
        const int error = SSL_get_error(state_->ssl.get(), received);
        if (error == SSL_ERROR_ZERO_RETURN) {
            return IoStatus::Closed;
        }
        if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            // The peer closed without its closing message: the end of what it sent.
            return IoStatus::Closed;
        }
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return IoStatus::Failed;
        }
        if (!waitForWhatIsWanted(state_->fd, error, deadline)) {
            return IoStatus::TimedOut;
        }
    }
}

std::string TlsChannel::peerAddress() const {
    return state_->socket.peerAddress();
}

struct TlsServerIdentity::State {
    Context context;
};

TlsServerIdentity::TlsServerIdentity(std::unique_ptr<State> state) : state_(std::move(state)) {}
TlsServerIdentity::TlsServerIdentity(TlsServerIdentity&&) noexcept = default;
TlsServerIdentity& TlsServerIdentity::operator=(TlsServerIdentity&&) noexcept = default;
TlsServerIdentity::~TlsServerIdentity() = default;

std::optional<TlsServerIdentity> TlsServerIdentity::load(const std::string& certificateFile,
                                                         const std::string& keyFile,
                                                         std::string& failure) {
    Context context(SSL_CTX_new(TLS_server_method()));
    if (!context) {
        failure = "TLS could not be set up: " + lastErrorText("no memory");
        return std::nullopt;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(context.get(), certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
        failure = "the certificate " + certificateFile + " and key " + keyFile +
                  " could not be used: " + lastErrorText("unreadable");
        return std::nullopt;
    }
    return TlsServerIdentity(std::make_unique<State>(State{std::move(context)}));
}

TlsStart TlsServerIdentity::accept(TcpSocket socket, Clock::time_point deadline) const {
    std::string failure;
    SSL_CTX_up_ref(state_->context.get());
    std::unique_ptr<TlsChannel::State> channel =
        newState(std::move(socket), Context(state_->context.get()), failure);
    if (!channel) {
        return {nullptr, failure};
    }
    return handshake(std::move(channel), deadline, false);
}

}  // namespace kestova::platform
