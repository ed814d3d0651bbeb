#pragma once

#include "utils/TlsSettings.h"

#include <cstddef>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace zenqa::ssl {

// One TLS client session on a connected socket: at least TLS 1.2, no
// compression, server name sent, and the server's chain and name checked
// unless the settings turn that off. Each session has a context of its own,
// so sessions on different threads share nothing that needs a lock.
class TlsSession {
public:
    explicit TlsSession(const zenqa::utils::TlsSettings& settings);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // The client handshake; false when it fails or the server is not trusted.
    bool handshake(int socket, const std::string& host);

    // Results of read and write.
    static constexpr long Closed = 0;
    static constexpr long Error = -1;
    static constexpr long WantRead = -2;  // wait for the socket, then call again

    long read(char* data, std::size_t size);
    long write(const char* data, std::size_t size);
    // Decrypted bytes are waiting, so the socket need not be polled.
    bool hasPending() const;
    void shutdown();

private:
    zenqa::utils::TlsSettings settings;
    SSL_CTX* context = nullptr;
    SSL* session = nullptr;
    bool established = false;
};

}  // namespace zenqa::ssl
