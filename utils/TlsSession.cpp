#include "utils/TlsSession.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <ctime>
#include <limits>

namespace zenqa::ssl {

namespace {

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// peer has gone; block it around each call and discard one that arrived.
// The signal is raised in the writing thread and the mask is that thread's,
// so other threads and their writes are not affected.
class SigPipeBlock {
public:
    SigPipeBlock() {
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    }
    ~SigPipeBlock() {
        if (!alreadyPending) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec noWait{0, 0};
                sigtimedwait(&pipeOnly, nullptr, &noWait);
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    SigPipeBlock(const SigPipeBlock&) = delete;
    SigPipeBlock& operator=(const SigPipeBlock&) = delete;

private:
    sigset_t pipeOnly;
    sigset_t previous;
    bool alreadyPending = false;
};

// The library counts in int; a larger block is written in several calls.
int clampToInt(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, std::numeric_limits<int>::max()));
}

bool isIpAddress(const std::string& host) {
    in_addr v4;
    in6_addr v6;
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

SSL_CTX* makeContext(const zenqa::utils::TlsSettings& settings) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        return nullptr;
    }
    bool ok = SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
              SSL_CTX_set_cipher_list(context, "DEFAULT:!LOW:!SSLv2:!EXPORT:!RC4:@STRENGTH") == 1;
    SSL_CTX_set_options(context, SSL_OP_ALL | SSL_OP_NO_COMPRESSION);
    // Reads return after non-application records, so a read never outlasts its time-out.
    SSL_CTX_clear_mode(context, SSL_MODE_AUTO_RETRY);
    if (ok && settings.verifyPeer) {
        ok = SSL_CTX_set_default_verify_paths(context) == 1 &&
             (settings.caFile.empty() ||
              SSL_CTX_load_verify_locations(context, settings.caFile.c_str(), nullptr) == 1);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    }
    if (!ok) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

}  // namespace

TlsSession::TlsSession(const zenqa::utils::TlsSettings& settings) : settings(settings) {}

TlsSession::~TlsSession() {
    shutdown();
    SSL_CTX_free(context);
}

bool TlsSession::handshake(int socket, const std::string& host) {
    if (context == nullptr) {
        context = makeContext(settings);
    }
    if (context == nullptr || session != nullptr) {
        return false;
    }
    session = SSL_new(context);
    if (session == nullptr || SSL_set_fd(session, socket) != 1) {
        return false;
    }
    const bool ipAddress = isIpAddress(host);
    if (!ipAddress && SSL_set_tlsext_host_name(session, host.c_str()) != 1) {
        return false;
    }
    if (settings.verifyPeer) {
        X509_VERIFY_PARAM* parameters = SSL_get0_param(session);
        X509_VERIFY_PARAM_set_hostflags(parameters, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int named = ipAddress ? X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str())
                                    : SSL_set1_host(session, host.c_str());
        if (named != 1) {
            return false;
        }
    }
    SigPipeBlock guard;
    ERR_clear_error();
    if (SSL_connect(session) != 1) {
        return false;
    }
    established = !settings.verifyPeer || SSL_get_verify_result(session) == X509_V_OK;
    return established;
}

long TlsSession::read(char* data, std::size_t size) {
    ERR_clear_error();
    const int result = SSL_read(session, data, clampToInt(size));
    if (result > 0) {
        return result;
    }
    switch (SSL_get_error(session, result)) {
    case SSL_ERROR_WANT_READ:
        return WantRead;
    case SSL_ERROR_ZERO_RETURN:
        return Closed;
    default:
        established = false;
        return Error;
    }
}

long TlsSession::write(const char* data, std::size_t size) {
    SigPipeBlock guard;
    ERR_clear_error();
    const int result = SSL_write(session, data, clampToInt(size));
    if (result <= 0) {
        established = false;
        return Error;
    }
    return result;
}

bool TlsSession::hasPending() const { return session != nullptr && SSL_pending(session) > 0; }

void TlsSession::shutdown() {
    if (session == nullptr) {
        return;
    }
    // A session that failed must not send a closing alert.
    if (established) {
        SigPipeBlock guard;
        SSL_shutdown(session);
    }
    established = false;
    SSL_free(session);
    session = nullptr;
}

}  // namespace zenqa::ssl
