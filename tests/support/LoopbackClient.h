#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <string>

namespace tarmig::testing {

// A raw client connection to 127.0.0.1, plain or TLS (no certificate check),
// for tests that speak a protocol byte by byte. Reads block for at most ten
// seconds, so a silent server fails the test instead of hanging it. Every
// failure throws std::runtime_error.
class LoopbackClient {
public:
    LoopbackClient(unsigned port, bool tls = false);
    ~LoopbackClient();
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    void send(const std::string& bytes);
    // The next line with its line end.
    std::string line();
    // The next `count` bytes.
    std::string bytes(std::size_t count);

private:
    void fill();
    void release();

    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    std::string buffer_;
};

}  // namespace tarmig::testing
